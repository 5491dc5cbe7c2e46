#include "recording/ZrReader.h"

#include <gtest/gtest.h>

#include "TempDir.h"
#include "recording/ZrWriter.h"

namespace zentrova {
namespace {

TEST(ZrReader, OpensWhatTheWriterWrote) {
  testing::TempDir dir;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("a.zr"), {}));
  ZrFrame f;
  ASSERT_TRUE(w.WriteFrame(f));
  ASSERT_TRUE(w.Close());
  ZrReader r;
  RecordingInfo info;
  ASSERT_EQ(r.open(dir.file("a.zr"), &info, 0, 1), 1) << r.failureReason();
  EXPECT_EQ(r.frameCount(), 1);
}

}  // namespace
}  // namespace zentrova
