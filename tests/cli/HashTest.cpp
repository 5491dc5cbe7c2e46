// zentrova hash against what ffmpeg says of the outputs a conversion writes.
#include "EvidenceTestSupport.h"

namespace zentrova::testing {
namespace {

std::string SoundLine(const std::string& hashText) {
  for (const std::string& line : Lines(hashText))
    if (line.rfind("#audio: ", 0) == 0) return line.substr(8);
  return "";
}

class HashOfEveryResolution : public ::testing::TestWithParam<Resolution> {};

TEST_P(HashOfEveryResolution, EqualsFfmpegOnTheRawAndTheFfv1OutputAndTheSound) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (scripts/bootstrap.sh installs it)";
  TempDir dir;
  const std::string zr = dir.file("in.zr");
  // The stress walk holds frames without a picture, which must come out as the raw file holds them.
  MakeRecordingOf(zr, GetParam(), 12, GetParam().code % 2 == 1);
  ASSERT_EQ(RunCli({"convert", zr, dir.file("raw.avi"), "--codec", "raw"}).status, 0);
  ASSERT_EQ(RunCli({"convert", zr, dir.file("ffv1.avi"), "--codec", "ffv1"}).status, 0);

  const CliRun hash = RunCli({"hash", zr});
  ASSERT_EQ(hash.status, 0) << hash.err;
  const std::string raw = Ffmpeg("-i " + dir.file("raw.avi") + " -map 0:v -f framemd5 -");
  const std::string ffv1 = Ffmpeg("-i " + dir.file("ffv1.avi") + " -map 0:v -pix_fmt bgr24 -f framemd5 -");
  ASSERT_GE(FrameLines(hash.out).size(), 12u) << hash.out;
  EXPECT_EQ(HeaderLines(hash.out), HeaderLines(raw));
  EXPECT_EQ(FrameLines(hash.out), FrameLines(raw));
  EXPECT_EQ(FrameLines(hash.out), FrameLines(ffv1));
  EXPECT_EQ(SoundLine(hash.out) + "\n", Ffmpeg("-i " + dir.file("raw.avi") + " -map 0:a -f md5 -"));
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, HashOfEveryResolution, ::testing::ValuesIn(AllResolutions()),
                         [](const auto& info) {
                           return "code" + std::to_string(info.param.code) + "v" + std::to_string(info.param.version);
                         });

TEST(Hash, Sha256PerPictureEqualsFfmpegsFramehashAndARateOtherThanWholeFramesKeepsTheTiming) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  const std::string zr = dir.file("in.zr");
  zrgen::GeneratorOptions o;
  o.output = zr;
  o.frames = 14;
  o.rate = 7;  // 8000 / 7 samples a frame: the rate comes from the sound
  o.resolutionCode = 0;
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  ASSERT_EQ(RunCli({"convert", zr, dir.file("raw.avi"), "--codec", "raw"}).status, 0);
  const CliRun hash = RunCli({"hash", zr, "--format", "sha256"});
  ASSERT_EQ(hash.status, 0) << hash.err;
  const std::string ffmpeg = Ffmpeg("-i " + dir.file("raw.avi") + " -map 0:v -f framehash -hash sha256 -");
  EXPECT_EQ(HeaderLines(hash.out), HeaderLines(ffmpeg));
  EXPECT_EQ(FrameLines(hash.out), FrameLines(ffmpeg));
  EXPECT_EQ(FrameLines(hash.out).size(), 14u);
}

TEST(Hash, WritesNothingAndFailsOnWhatIsNoRecording) {
  TempDir dir;
  WriteAll(dir.file("junk.zr"), std::string(4000, 'x'));
  const CliRun run = RunCli({"hash", dir.file("junk.zr")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(FrameLines(run.out).empty());
  EXPECT_FALSE(run.err.empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace zentrova::testing

namespace zentrova::testing {
namespace {

// At 8000 / 3 samples a frame the sound gives a rate just short of 3 frames a second, which ffmpeg rounds
// to 3 for its own time base unless told to keep the file's.
TEST(Hash, TheFilesOwnTimeBaseAsFfmpegPrintsItWhenToldToKeepIt) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  const std::string zr = dir.file("in.zr");
  zrgen::GeneratorOptions o;
  o.output = zr;
  o.frames = 20;
  o.rate = 3;
  o.resolutionCode = 0;
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  ASSERT_EQ(RunCli({"convert", zr, dir.file("raw.avi"), "--codec", "raw"}).status, 0);
  const CliRun hash = RunCli({"hash", zr});
  ASSERT_EQ(hash.status, 0) << hash.err;
  const std::string kept = Ffmpeg("-i " + dir.file("raw.avi") + " -map 0:v -enc_time_base -1 -f framemd5 -");
  EXPECT_FALSE(Contains(hash.out, "#tb 0: 1/3")) << hash.out;  // not a whole rate
  EXPECT_EQ(HeaderLines(hash.out), HeaderLines(kept));
  EXPECT_EQ(FrameLines(hash.out), FrameLines(kept));
  EXPECT_EQ(FrameLines(hash.out), FrameLines(Ffmpeg("-i " + dir.file("raw.avi") + " -map 0:v -f framemd5 -")));
}

}  // namespace
}  // namespace zentrova::testing
