// The rate on the command line: --rate classic and forced rates in the written files, and what
// info says of the rate and of the classic rule's drift.
#include "TempDir.h"
#include "support/ConversionTestSupport.h"

namespace zentrova {
namespace {

using avi::testing::RunCommand;
using testing::Recording;
using testing::Write;
using testing::Probe;
using testing::Zentrova;
using testing::ExitStatus;
using testing::RunZentrova;
using testing::TempDir;

TEST(RateOption, ClassicReproducesTheWholeQuotientPlusOneAndAForcedRateIsKept) {
  SKIP_WITHOUT_FFMPEG();
  SKIP_WITHOUT_CLI();
  TempDir dir;
  Write(dir.file("in.zr"), Recording{});  // 250 frames over 10 s, 1/25 s of sound each
  const std::string in = "'" + dir.file("in.zr") + "' ";
  ASSERT_EQ(RunZentrova("convert --codec raw " + in + "'" + dir.file("auto.avi") + "'"), 0);
  EXPECT_EQ(Probe(dir.file("auto.avi"), "stream=r_frame_rate"), "25/1");
  ASSERT_EQ(RunZentrova("convert --rate classic --codec raw " + in + "'" + dir.file("classic.avi") + "'"), 0);
  EXPECT_EQ(Probe(dir.file("classic.avi"), "stream=r_frame_rate"), "26/1");
  // The stream header itself: rate 26, scale 1, as the original's files.
  const auto bytes = avi::testing::ReadFile(dir.file("classic.avi"));
  const auto strh = avi::testing::Find(avi::ListRiffChunks(bytes), "AVI /hdrl/strl/strh");
  ASSERT_EQ(strh.size(), 2u);
  EXPECT_EQ(avi::testing::Le32(&bytes[strh[0].data + 20]), 1u);   // dwScale
  EXPECT_EQ(avi::testing::Le32(&bytes[strh[0].data + 24]), 26u);  // dwRate
  ASSERT_EQ(RunZentrova("convert --rate 30000/1001 --codec ffv1 " + in + "'" + dir.file("forced.mkv") + "'"), 0);
  EXPECT_EQ(Probe(dir.file("forced.mkv"), "stream=avg_frame_rate"), "30000/1001");
  for (const char* bad : {"0", "121", "1/61", "fast"})
    EXPECT_EQ(RunZentrova(std::string("convert --rate ") + bad + " " + in + "'" + dir.file("bad.avi") + "'"), 2)
        << bad;  // a usage error
  EXPECT_FALSE(std::filesystem::exists(dir.file("bad.avi")));
}

TEST(InfoCommand, TellsTheRateWhereItComesFromAndHowFarTheClassicRuleDrifts) {
  SKIP_WITHOUT_CLI();
  TempDir dir;
  Recording r;
  r.frames = 253;  // 10.12 s of sound, 10 s in the header
  r.text1 = "Caf\xe9";
  Write(dir.file("in.zr"), r);
  const std::string in = "'" + dir.file("in.zr") + "'";
  int status = -1;
  const std::string text = RunCommand("'" + Zentrova() + "' info " + in, &status);
  ASSERT_EQ(ExitStatus(status), 0);
  EXPECT_NE(text.find("start:            2008-01-10T21:20:00Z\n"), std::string::npos) << text;
  EXPECT_NE(text.find("sound:            80960 samples (10.1 s)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("frame rate:       25 fps, from frames and samples of sound\n"), std::string::npos) << text;
  // 253 / 10 + 1 = 26 fps: 9.73 s of pictures against 10.12 s of sound.
  EXPECT_NE(text.find("classic rate:     26 fps, pictures would end 0.4 s before the sound\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("text1:            Caf\xc3\xa9\n"), std::string::npos) << text;

  const std::string json = RunCommand("'" + Zentrova() + "' info --json " + in, &status);
  ASSERT_EQ(ExitStatus(status), 0);
  for (const char* member : {"\"startTime\": \"2008-01-10T21:20:00Z\"", "\"startTimeSeconds\": 1200000000",
                             "\"endTime\": \"2008-01-10T21:20:10Z\"", "\"endTimeSeconds\": 1200000010",
                             "\"audioSamples\": 80960", "\"frameRate\": \"25\"", "\"frameRateSource\": \"sound\"",
                             "\"classicRate\": \"26\"", "\"classicDriftSeconds\": 0.389", "\"text1\": \"Caf\\u00e9\""})
    EXPECT_NE(json.find(member), std::string::npos) << member << "\n" << json;

  // Without sound: the exact fraction, and no drift where the classic rule happens to agree.
  r.audioBytes = 0;
  r.frames = 100;
  r.headerSeconds = 60;
  Write(dir.file("quiet.zr"), r);
  const std::string quiet = RunCommand("'" + Zentrova() + "' info '" + dir.file("quiet.zr") + "'", &status);
  EXPECT_NE(quiet.find("frame rate:       5/3 fps (1.667), from frames and duration\n"), std::string::npos) << quiet;
  EXPECT_NE(quiet.find("classic rate:     2 fps, pictures would end 10.0 s before the recording\n"), std::string::npos)
      << quiet;
  r.frames = 250;
  r.headerSeconds = 0;
  Write(dir.file("still.zr"), r);
  const std::string still = RunCommand("'" + Zentrova() + "' info '" + dir.file("still.zr") + "'", &status);
  EXPECT_NE(still.find("frame rate:       25 fps, from no sound and no duration: the default\n"), std::string::npos)
      << still;
  EXPECT_NE(still.find("classic rate:     25 fps\n"), std::string::npos) << still;
}

}  // namespace
}  // namespace zentrova
