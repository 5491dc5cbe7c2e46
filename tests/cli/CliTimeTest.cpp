// Clips by time and the files that carry the recording's clock: the frames a window holds, byte
// for byte those of a whole conversion, their sound, and the refusals of windows that hold none.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "CliTestSupport.h"
#include "avi/AviTestSupport.h"

namespace zentrova::testing {
namespace {

using avi::testing::AviStreams;
using avi::testing::ReadStreams;

constexpr int32_t kStart = 1199931245;  // 2008-01-10T02:14:05Z, 10:14:05 on the recorder (UTC+8)

// 150 frames at 25 a second, intra pictures every 25 frames inside blocks of 10, and a pause of
// five seconds before frame 60: frames 0..59 at 0, 40, ... 2360 ms, frame 60 at 7400 ms.
std::string MakeTimedRecording(const TempDir& dir) {
  zrgen::GeneratorOptions o;
  o.output = dir.file("cam1.zr");
  o.resolutionCode = 0;
  o.frames = 150;
  o.framesPerBlock = 10;
  o.startTime = kStart;
  o.createTick = 4294966000u;  // wraps 1.3 s in
  o.utcOffsetHours = 8;
  o.pauses = {{60, 5000}};
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  EXPECT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  return o.output;
}

TEST(CliTime, AClipHoldsExactlyTheFramesOfItsWindowAsAWholeConversionShowsThem) {
  TempDir dir;
  const std::string zr = MakeTimedRecording(dir);
  ASSERT_EQ(RunCli({"convert", zr, dir.file("whole.avi"), "--codec", "raw", "--idct", "plain"}).status, 0);
  const AviStreams whole = ReadStreams(dir.file("whole.avi"));
  ASSERT_EQ(whole.pictures.size(), 150u);
  const size_t bytesPerFrame = whole.sound.size() / 150;  // 320 samples of 16 bits

  struct Case {
    std::vector<std::string> window;
    size_t first, end;
  } cases[] = {
      // Recorder time; decoding starts at frame 25, inside the block of frames 20..29.
      {{"--from", "2008-01-10T10:14:06.220", "--to", "2008-01-10 10:14:07.000"}, 31, 50},
      // UTC, across the pause: frames 55..59 and 60..64.
      {{"--from", "2008-01-10T02:14:07.200Z", "--to", "2008-01-10T02:14:12.600Z"}, 55, 65},
      // Positions from the first frame; a window ending in the pause stops before it.
      {{"--from", "1.5", "--to", "2.9"}, 38, 60},
      {{"--from", "0:02", "--duration", "6"}, 50, 75},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"convert", zr, dir.file("clip.avi"), "--codec", "raw", "--idct", "plain", "-y",
                                     "--frame-times", dir.file("clip.csv")};
    args.insert(args.end(), c.window.begin(), c.window.end());
    const CliRun run = RunCli(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const AviStreams clip = ReadStreams(dir.file("clip.avi"));
    ASSERT_EQ(clip.pictures.size(), c.end - c.first) << c.window[1];
    for (size_t k = 0; k < clip.pictures.size(); ++k)
      ASSERT_EQ(clip.pictures[k], whole.pictures[c.first + k]) << c.window[1] << ": clip frame " << k;
    // The frames' own sound, as long as theirs; it is decoded afresh from the intra picture on, so
    // the sound decoder's adaptation may differ from the whole's for its first moments.
    ASSERT_EQ(clip.sound.size(), (c.end - c.first) * bytesPerFrame);
    const size_t settled = clip.sound.size() / 2;
    EXPECT_TRUE(std::equal(clip.sound.begin() + settled, clip.sound.end(),
                           whole.sound.begin() + c.first * bytesPerFrame + settled));
    const std::vector<std::string> csv = Lines(ReadAll(dir.file("clip.csv")));
    ASSERT_EQ(csv.size(), c.end - c.first + 1);
    EXPECT_EQ(csv[1].substr(0, 2 + std::to_string(c.first).size()), "0," + std::to_string(c.first));
  }
  // The subtitles beside the whole conversion carry each frame's recorder time.
  const std::string srt = ReadAll(dir.file("whole.srt"));
  EXPECT_TRUE(Contains(srt, "1\n00:00:00,000 --> 00:00:00,040\n2008-01-10 10:14:05.000 (UTC+8)\n"));
  EXPECT_TRUE(Contains(srt, "61\n00:00:02,400 --> 00:00:02,440\n2008-01-10 10:14:12.400 (UTC+8)\n"));
}

TEST(CliTime, WindowsThatHoldNoFrameWriteNothingAndSayWhy) {
  TempDir dir;
  const std::string zr = MakeTimedRecording(dir);
  const std::string out = dir.file("clip.avi");
  struct Case {
    std::vector<std::string> window;
    int status;
    const char* says;
  } cases[] = {
      {{"--from", "2008-01-10T11:00:00"}, 1, "after the recording ends"},
      {{"--to", "2008-01-09T11:00:00"}, 1, "before the recording begins"},
      {{"--from", "2008-01-10 10:14:08", "--to", "2008-01-10 10:14:12"}, 1, "the recorder paused"},
      {{"--from", "10", "--to", "5"}, 2, "is not after --from"},
      {{"--from", "2008-01-10T10:14:09", "--to", "2008-01-10T02:14:00Z"}, 2, "before it begins"},
      {{"--from", "2008-01-10T25:00"}, 2, "out of range"},
      {{"--from", "yesterday"}, 2, "is not a time"},
      {{"--duration", "0"}, 2, "longer than 0 s"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"convert", zr, out, "--codec", "raw"};
    args.insert(args.end(), c.window.begin(), c.window.end());
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.status, c.status) << c.window[1] << ": " << run.err;
    EXPECT_TRUE(Contains(run.err, c.says)) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.window[1];
    EXPECT_FALSE(std::filesystem::exists(dir.file("clip.srt")));
  }
}

TEST(CliTime, InfoShowsTheTimelineAndEveryFrame) {
  TempDir dir;
  const std::string zr = MakeTimedRecording(dir);
  CliRun run = RunCli({"info", zr});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "first frame:      2008-01-10T02:14:05.000Z, 2008-01-10 10:14:05 recorder time (UTC+8)"));
  EXPECT_TRUE(Contains(run.out, "gap:              2008-01-10T02:14:07.400Z to 2008-01-10T02:14:12.400Z (5.000 s), "
                                "before frame 60"));
  run = RunCli({"info", zr, "--frames", "--json", "--clock-offset", "-0.4"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 151u);
  EXPECT_TRUE(Contains(lines[1], "\"frame\": 0, \"time\": \"2008-01-10T02:14:04.600Z\""));
  EXPECT_TRUE(Contains(lines[1], "\"picture\": \"intra\""));
  EXPECT_TRUE(Contains(lines[61], "\"frame\": 60, \"time\": \"2008-01-10T02:14:12.000Z\""));
}

TEST(CliTime, APauseIsFoundInARecordingOfOnlyTwoOrThreeBlocks) {
  TempDir dir;
  for (const int frames : {20, 30}) {
    zrgen::GeneratorOptions o;
    o.output = dir.file("short" + std::to_string(frames) + ".zr");
    o.resolutionCode = 0;
    o.frames = frames;
    o.framesPerBlock = 10;
    o.startTime = kStart;
    o.pauses = {{10, 5000}};
    o.idct = IdctChoice::Plain;
    zrgen::GeneratorReport report;
    ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
    const CliRun run = RunCli({"info", o.output, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "\"gaps\": [{\"from\": \"2008-01-10T02:14:05.400Z\", \"to\": "
                                  "\"2008-01-10T02:14:10.400Z\", \"seconds\": 5.000, \"frameAfter\": 10}]"))
        << frames << " frames: " << run.out;
  }
}

TEST(CliTime, ABatchConvertsEachRecordingsPartOfTheWindowAndSkipsTheRest) {
  TempDir dir;
  const std::string first = MakeTimedRecording(dir);
  std::filesystem::rename(first, dir.file("in-a.zr"));
  zrgen::GeneratorOptions o;
  o.output = dir.file("in-b.zr");
  o.resolutionCode = 0;
  o.frames = 50;
  o.startTime = kStart + 3600;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  const CliRun run = RunCli({"convert", dir.file("in-a.zr"), dir.file("in-b.zr"), "-o", dir.file("out"), "--codec",
                             "raw", "--from", "2008-01-10T02:14:06Z", "--to", "2008-01-10T02:14:07Z", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "\"framesWritten\": 25"));
  EXPECT_TRUE(Contains(run.out, "outside the window"));
  EXPECT_TRUE(std::filesystem::exists(dir.file("out/in-a.avi")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out/in-b.avi")));
  // Each AVI output gets its clock times beside it, as a single conversion's does.
  const std::string srt = ReadAll(dir.file("out/in-a.srt"));
  EXPECT_EQ(srt.rfind("1\n00:00:00,000 --> 00:00:00,040\n2008-01-10 10:14:06.000 (UTC+8)\n\n2\n", 0), 0u) << srt;
  EXPECT_TRUE(Contains(srt, "\n25\n00:00:00,960 --> 00:00:01,000\n2008-01-10 10:14:06.960 (UTC+8)\n"));
  EXPECT_FALSE(Contains(srt, "\n26\n"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out/in-b.srt")));
  ASSERT_EQ(RunCli({"convert", dir.file("in-b.zr"), "-o", dir.file("bare"), "--codec", "raw", "--no-srt"}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("bare/in-b.avi")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("bare/in-b.srt")));
  // A scan finds recordings without a clock: a batch refuses to time or mark them by one, as a
  // single conversion does, before anything is written.
  for (const char* option : {"--burn-time", "--timing=recorded"}) {
    const CliRun refused =
        RunCli({"convert", dir.file("in-b.zr"), "-o", dir.file("found"), "--recover", "--codec", "raw", option});
    EXPECT_EQ(refused.status, 2) << option;
    EXPECT_TRUE(Contains(refused.err, "--timing recorded and --burn-time do not combine with --recover")) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("found/in-b.avi")));
  }
}

TEST(CliTime, StillsHoldThePixelsOfARawConversionsFramesAndAreNamedByTheirClockTime) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string zr = MakeTimedRecording(dir);
  ASSERT_EQ(RunCli({"convert", zr, dir.file("whole.avi"), "--codec", "raw", "--idct", "plain"}).status, 0);
  const AviStreams whole = ReadStreams(dir.file("whole.avi"));
  // Frame 37 is shown from 06.480 to 06.520, frame 64 comes after the pause; the stills are
  // decoded in frame order, each from the intra picture before it or on from the one before.
  const CliRun run = RunCli({"frames", zr, "--at", "2008-01-10 10:14:06.5", "--at", "2008-01-10T02:14:12.560Z",
                             "--at", "0.12", "--idct", "plain", "-o", dir.file("stills")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::pair<const char*, size_t> expected[] = {{"cam1_2008-01-10T10-14-05.120.png", 3},
                                                     {"cam1_2008-01-10T10-14-06.480.png", 37},
                                                     {"cam1_2008-01-10T10-14-12.560.png", 64}};
  for (const auto& [name, frame] : expected) {
    const std::string path = dir.file(std::string("stills/") + name);
    ASSERT_TRUE(std::filesystem::exists(path)) << name << "\n" << run.out;
    // As a player shows both: the still, and that frame of the raw conversion.
    const std::string pixels = avi::testing::Decode(path, "-f rawvideo -pix_fmt bgr24");
    const std::string shown = avi::testing::Decode(
        dir.file("whole.avi"),
        "-vf 'select=eq(n\\," + std::to_string(frame) + ")' -frames:v 1 -f rawvideo -pix_fmt bgr24");
    ASSERT_EQ(pixels.size(), whole.pictures[frame].size()) << name;
    EXPECT_TRUE(pixels == shown) << name;
  }
  // A time in the recorder's pause has no picture; an existing still is kept without -y.
  const CliRun again = RunCli({"frames", zr, "--at", "2008-01-10 10:14:09", "--at", "0.12", "-o", dir.file("stills")});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(Contains(again.err, "in a pause of the recorder"));
  EXPECT_TRUE(Contains(again.err, "exists; -y replaces it"));
  EXPECT_EQ(RunCli({"frames", zr, "-o", dir.file("stills")}).status, 2);
}

}  // namespace
}  // namespace zentrova::testing
