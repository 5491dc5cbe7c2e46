// The recording writer on a disk that refuses it: each failure carries the system's reason, and
// a writer that failed once refuses every call after, so that a repair or the generator never
// takes a cut recording for a whole one.
#include "recording/ZrWriter.h"

#include <gtest/gtest.h>

#include <vector>

#include "TempDir.h"
#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

TEST(ZrWriter, ARecordingThatCannotBeCreatedSaysWhy) {
  testing::TempDir dir;
  ZrWriter writer;
  const Expected<void> opened = writer.Open(dir.file("no such folder/a.zr"), ZrHeaderFields{});
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.reason(), "No such file or directory");
  EXPECT_FALSE(writer.BeginBlock());
  EXPECT_FALSE(writer.Close());
}

TEST(ZrWriter, AFullDiskFailsTheWriteThatReachesItAndEveryCallAfter) {
  ZrWriter writer;
  ASSERT_TRUE(writer.Open("/dev/full", ZrHeaderFields{}));
  // Larger than the stream's buffer, so that a frame reaches the disk when it is written.
  const std::vector<uint8_t> picture(256 * 1024, 0x55);
  ZrFrame frame;
  frame.video = picture;
  const Expected<void> written = writer.WriteFrame(frame);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.reason(), "No space left on device");

  frame.video = {};
  for (const Expected<void>& after : {writer.WriteFrame(frame), writer.BeginBlock(), writer.SetEndTime(60)}) {
    ASSERT_FALSE(after);
    EXPECT_EQ(after.reason(), "No space left on device");
  }
  const Expected<void> closed = writer.Close();
  ASSERT_FALSE(closed);
  EXPECT_EQ(closed.reason(), "No space left on device");
}

TEST(ZrWriter, AWholeRecordingClosesAndCannotBeClosedTwice) {
  testing::TempDir dir;
  ZrWriter writer;
  ASSERT_TRUE(writer.Open(dir.file("a.zr"), ZrHeaderFields{}));
  const std::vector<uint8_t> picture(100, 0x11);
  ZrFrame frame;
  frame.video = picture;
  EXPECT_TRUE(writer.WriteFrame(frame));
  EXPECT_TRUE(writer.SetEndTime(60));
  EXPECT_TRUE(writer.Close());
  EXPECT_FALSE(writer.Close());
}

}  // namespace
}  // namespace zentrova
