// The recording's sound reaches the AVI file: every frame's audio is decoded with the state running
// on from frame to frame and appended at the running sample position. Read back with ffmpeg, so
// it runs only where ffmpeg is installed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/AudioTestSupport.h"
#include "TempDir.h"
#include "audio/G726Decoder.h"
#include "avi/AviFile.h"
#include "convert/ConversionJob.h"
#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"

namespace zentrova {
namespace {

TEST(ConversionAudio, EveryFramesSoundIsDecodedInOrderWithTheStateRunningOn) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  testing::TempDir dir;
  if (!avi::OpenAviFile(dir.file("probe.avi"))) GTEST_SKIP() << "no AVI writer in this build";
  const std::vector<uint8_t> codes = testing::EncodeAll(testing::Tone(440, 3000, 48000));  // 18000 bytes

  // Frame sizes include a partial trailing group (its bytes are dropped), an empty frame and one
  // larger than the decoder takes in one call.
  const std::vector<size_t> sizes = {300, 301, 0, 12000, 3000, 2399};
  ZrHeaderFields fields;
  fields.version = kVersionOlder;
  fields.resolutionCode = 130;
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + 6;
  ZrWriter writer;
  ASSERT_TRUE(writer.Open(dir.file("a.zr"), fields));
  std::vector<uint8_t> usable;
  size_t at = 0;
  for (size_t size : sizes) {
    ASSERT_LE(at + size, codes.size());
    const std::span<const uint8_t> audio(codes.data() + at, size);
    ZrFrame frame;
    frame.flags = FlagNoPicture | FlagAudio;
    frame.audio = audio;
    ASSERT_TRUE(writer.WriteFrame(frame));
    usable.insert(usable.end(), audio.begin(), audio.begin() + static_cast<std::ptrdiff_t>(size / 3 * 3));
    at += size;
  }
  ASSERT_TRUE(writer.Close());

  auto print = [](const std::string& line) { std::printf("job: %s\n", line.c_str()); };
  ConversionJob job(print, print);
  ASSERT_TRUE(job.Run(dir.file("a.zr"), dir.file("a.avi"), [] { return std::optional(avi::CompressOptions{"raw", 90}); }));
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -i '" + dir.file("a.avi") + "' -map 0:a:0 -f s16le '" +
                         dir.file("a.raw") + "'")
                            .c_str()),
            0);
  const std::vector<int16_t> expected = testing::DecodeAll(usable);
  const std::vector<int16_t> got = testing::ReadPcm(dir.file("a.raw"));
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace zentrova
