// zentrova verify on fresh outputs of every kind, and on a copy with one picture changed.
#include <cstring>

#include "EvidenceTestSupport.h"

namespace zentrova::testing {
namespace {

// Changes one byte in the picture data of frame `frame` (counted from 0) of a raw AVI file,
// walking the chunks of its first 'movi' list.
bool ChangePicture(const std::string& path, uint32_t frame) {
  std::string bytes = ReadAll(path);
  size_t at = bytes.find("movi");
  if (at == std::string::npos) return false;
  at += 4;
  uint32_t seen = 0;
  while (at + 8 <= bytes.size()) {
    uint32_t size = 0;
    std::memcpy(&size, bytes.data() + at + 4, 4);
    const std::string id = bytes.substr(at, 4);
    if (id == "00db" || id == "00dc") {
      if (seen++ == frame) {
        bytes[at + 8 + size / 2] ^= 0x40;
        WriteAll(path, bytes);
        return true;
      }
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

TEST(Verify, PassesFreshRawFfv1AndMpeg4OutputsInEveryContainer) {
  TempDir dir;
  const std::string zr = dir.file("in.zr");
  MakeRecording(zr, 12, 130);
  struct Case {
    std::string name, codec, expect;
  };
  const Case cases[] = {{"raw.avi", "raw", "12 of 12 frames identical"},
                        {"ffv1.avi", "ffv1", "12 of 12 frames identical"},
                        {"ffv1.mkv", "ffv1", "12 of 12 frames identical"},
                        {"mpeg4.avi", "mpeg4", "12 of 12 frames compared (mpeg4): PSNR min"},
                        {"mpeg4.mp4", "mpeg4", "12 of 12 frames compared (mpeg4): PSNR min"}};
  for (const Case& c : cases) {
    ASSERT_EQ(RunCli({"convert", zr, dir.file(c.name), "--codec", c.codec}).status, 0) << c.name;
    const CliRun run = RunCli({"verify", dir.file(c.name), zr});
    EXPECT_EQ(run.status, 0) << c.name << "\n" << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, c.expect)) << run.out;
  }
  // The lossy output holds, but not above an impossible floor.
  const CliRun strict = RunCli({"verify", dir.file("mpeg4.avi"), zr, "--min-psnr", "99"});
  EXPECT_EQ(strict.status, 1);
  EXPECT_TRUE(Contains(strict.out, "frame 1 is the first below 99.00 dB")) << strict.out;
}

TEST(Verify, FailsACopyWithOneChangedPictureAndNamesIt) {
  TempDir dir;
  const std::string zr = dir.file("in.zr");
  MakeRecording(zr, 10, 0);
  ASSERT_EQ(RunCli({"convert", zr, dir.file("raw.avi"), "--codec", "raw"}).status, 0);
  ASSERT_TRUE(ChangePicture(dir.file("raw.avi"), 6));
  const CliRun run = RunCli({"verify", dir.file("raw.avi"), zr});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.out, "9 of 10 frames identical; frame 7 is the first that differs")) << run.out;
  EXPECT_TRUE(Contains(run.out, "NOT verified")) << run.out;
}

TEST(Verify, FailsAnOutputOfAnotherRecordingOrOfFewerFrames) {
  TempDir dir;
  MakeRecording(dir.file("long.zr"), 12, 0);
  MakeRecording(dir.file("short.zr"), 8, 0);
  ASSERT_EQ(RunCli({"convert", dir.file("short.zr"), dir.file("short.avi"), "--codec", "ffv1"}).status, 0);
  const CliRun run = RunCli({"verify", dir.file("short.avi"), dir.file("long.zr")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.out, "the output lacks the last 4 frames")) << run.out;
  const CliRun missing = RunCli({"verify", dir.file("none.avi"), dir.file("long.zr")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.err, "cannot be read")) << missing.err;
}

}  // namespace
}  // namespace zentrova::testing
