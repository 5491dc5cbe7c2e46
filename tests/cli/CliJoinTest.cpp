// convert --join: recordings of one camera written into one output in time order, the pauses
// between them filled with repeats of the last picture and silence in AVI, kept as pauses in
// Matroska and MP4; the clock times beside or inside the output; windows across the files;
// recordings that cannot be joined refused before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "CliTestSupport.h"
#include "avi/AviTestSupport.h"

namespace zentrova::testing {
namespace {

using avi::testing::AviStreams;
using avi::testing::ReadStreams;

using avi::testing::RunCommand;

constexpr int32_t kStart = 1199931245;  // 2008-01-10T02:14:05Z

// `frames` frames at 25 a second from `start`, with sound; each recording with pictures and a tone
// of its own (the pattern is coded at another quantiser).
std::string MakeRecording(const TempDir& dir, const std::string& name, int32_t start, int frames, uint32_t seed,
                          uint8_t resolutionCode = 0) {
  zrgen::GeneratorOptions o;
  o.output = dir.file(name);
  o.resolutionCode = resolutionCode;
  o.frames = frames;
  o.framesPerBlock = 10;
  o.startTime = start;
  o.createTick = 4294960000u + seed;
  o.quantiser = 4 + 2 * static_cast<int>(seed);
  o.toneHz = 300.0 + 100.0 * seed;
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  EXPECT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  return o.output;
}

// One value per line of ffprobe's entries for the streams or packets of `selection`.
std::vector<std::string> Probe(const std::string& path, const std::string& selection, const std::string& entries) {
  return Lines(RunCommand("ffprobe -v error -select_streams " + selection + " -show_entries " + entries +
                          " -of default=nw=1:nk=1 '" + path + "'"));
}

AviStreams RawConversion(const TempDir& dir, const std::string& zr) {
  const std::string avi = zr + ".avi";
  const CliRun run = RunCli({"convert", zr, avi, "--codec", "raw", "--idct", "plain", "--no-srt"});
  EXPECT_EQ(run.status, 0) << run.err;
  return ReadStreams(avi);
}

// Three recordings of one camera: 50 frames (2 s) at 0 s, 50 at 10 s, 25 at 20 s; pauses of 8 s.
struct ThreeRecordings {
  std::string a, b, c;
  AviStreams rawA, rawB, rawC;
  explicit ThreeRecordings(const TempDir& dir) {
    a = MakeRecording(dir, "a.zr", kStart, 50, 1);
    b = MakeRecording(dir, "b.zr", kStart + 10, 50, 2);
    c = MakeRecording(dir, "c.zr", kStart + 20, 25, 3);
    rawA = RawConversion(dir, a);
    rawB = RawConversion(dir, b);
    rawC = RawConversion(dir, c);
  }
};

// `joined` holds `raw`'s pictures first..end-1 from `at` on; returns where they end.
size_t ExpectPictures(const AviStreams& joined, size_t at, const AviStreams& raw, size_t first, size_t end,
                      const char* what) {
  for (size_t k = first; k < end; ++k) {
    EXPECT_LT(at, joined.pictures.size()) << what;
    if (at >= joined.pictures.size()) return at;
    EXPECT_EQ(joined.pictures[at], raw.pictures[k]) << what << ": frame " << k << " at " << at;
    ++at;
  }
  return at;
}

size_t ExpectRepeats(const AviStreams& joined, size_t at, const std::vector<uint8_t>& last, size_t count,
                     const char* what) {
  for (size_t k = 0; k < count && at < joined.pictures.size(); ++k, ++at)
    EXPECT_EQ(joined.pictures[at], last) << what << ": repeat " << k;
  return at;
}

TEST(CliJoin, RecordingsWithPausesBecomeOneOutputInTimeOrderWithThePausesAsRepeats) {
  TempDir dir;
  const ThreeRecordings r(dir);
  ASSERT_EQ(r.rawA.pictures.size(), 50u);
  // Given out of order: joined by their start times.
  const std::string out = dir.file("joined.avi");
  const std::string times = dir.file("joined.csv");
  const CliRun run =
      RunCli({"convert", r.c, r.a, r.b, out, "--join", "--codec", "raw", "--idct", "plain", "--frame-times", times});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Gap of 8.000 s between a.zr and b.zr filled with 200 repeats of the last picture."),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Gap of 8.000 s between b.zr and c.zr filled with 200 repeats"), std::string::npos);
  EXPECT_NE(run.out.find("400 of the 525 frames written repeat the last picture"), std::string::npos) << run.out;

  const AviStreams joined = ReadStreams(out);
  ASSERT_EQ(joined.pictures.size(), 50u + 200 + 50 + 200 + 25);
  size_t at = ExpectPictures(joined, 0, r.rawA, 0, 50, "a.zr");
  at = ExpectRepeats(joined, at, r.rawA.pictures.back(), 200, "after a.zr");
  at = ExpectPictures(joined, at, r.rawB, 0, 50, "b.zr");
  at = ExpectRepeats(joined, at, r.rawB.pictures.back(), 200, "after b.zr");
  ExpectPictures(joined, at, r.rawC, 0, 25, "c.zr");

  // The pauses are silence as long as the repeats last, so the sound ends with the pictures:
  // 320 samples of 16 bits a frame.
  const size_t perFrame = r.rawA.sound.size() / 50;
  ASSERT_EQ(perFrame, 640u);
  ASSERT_EQ(joined.sound.size(), perFrame * joined.pictures.size());
  EXPECT_TRUE(std::equal(r.rawA.sound.begin(), r.rawA.sound.end(), joined.sound.begin()));
  const auto pause = joined.sound.begin() + static_cast<std::ptrdiff_t>(50 * perFrame);
  EXPECT_TRUE(std::all_of(pause, pause + static_cast<std::ptrdiff_t>(200 * perFrame), [](uint8_t v) { return v == 0; }));
  // Each recording's sound is decoded from the start as its own conversion decodes it.
  const auto soundB = pause + static_cast<std::ptrdiff_t>(200 * perFrame);
  EXPECT_TRUE(std::equal(r.rawB.sound.begin(), r.rawB.sound.end(), soundB));
  EXPECT_TRUE(std::equal(r.rawC.sound.rbegin(), r.rawC.sound.rend(), joined.sound.rbegin()));

  // The cues beside it follow the pictures: the last one before a pause lasts through its repeats.
  const std::string srt = ReadAll(dir.file("joined.srt"));
  EXPECT_TRUE(Contains(srt, "50\n00:00:01,960 --> 00:00:10,000\n2008-01-10 02:14:06.960 (UTC)\n")) << srt.substr(0, 400);
  EXPECT_TRUE(Contains(srt, "51\n00:00:10,000 --> 00:00:10,040\n2008-01-10 02:14:15.000 (UTC)\n"));
  EXPECT_TRUE(Contains(srt, "125\n00:00:20,960 --> 00:00:21,000\n2008-01-10 02:14:25.960 (UTC)\n"));
  EXPECT_FALSE(Contains(srt, "\n126\n"));
  // The frame times name each frame in its own recording.
  const std::vector<std::string> rows = Lines(ReadAll(times));
  ASSERT_EQ(rows.size(), 126u);
  EXPECT_EQ(rows[51], "50,0,10.000,2008-01-10T02:14:15.000Z,2008-01-10T02:14:15.000+00:00");

  // One thread decodes the sound on the writing side: the same file.
  const std::string oneThread = dir.file("one-thread.avi");
  ASSERT_EQ(RunCli({"convert", r.a, r.b, r.c, oneThread, "--join", "--codec", "raw", "--idct", "plain", "--threads", "1"})
                .status,
            0);
  EXPECT_EQ(avi::testing::ReadFile(oneThread), avi::testing::ReadFile(out));
}

TEST(CliJoin, IntoMatroskaAndMp4ThePausesStayPausesForPicturesSoundAndCues) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string a = MakeRecording(dir, "a.zr", kStart, 50, 1);
  const std::string b = MakeRecording(dir, "b.zr", kStart + 10, 50, 2);
  const std::string c = MakeRecording(dir, "c.zr", kStart + 20, 25, 3);
  for (const char* name : {"night.mkv", "night.mp4"}) {
    const std::string out = dir.file(name);
    const CliRun run = RunCli({"convert", b, c, a, out, "--join", "--codec", "mpeg4"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Gap of 8.000 s between a.zr and b.zr kept: its pictures and sound start at their "
                                  "own time."))
        << run.out;
    EXPECT_FALSE(Contains(run.out, "repeat")) << run.out;
    const std::vector<std::string> video = Probe(out, "v", "packet=pts_time");
    ASSERT_EQ(video.size(), 125u) << name;
    EXPECT_DOUBLE_EQ(std::atof(video[49].c_str()), 1.96) << name;
    EXPECT_DOUBLE_EQ(std::atof(video[50].c_str()), 10.0) << name;
    EXPECT_DOUBLE_EQ(std::atof(video[100].c_str()), 20.0) << name;
    EXPECT_DOUBLE_EQ(std::atof(video[124].c_str()), 20.96) << name;
    // No sound plays inside a pause: the sound after it starts with its first picture.
    const std::vector<std::string> sound = Probe(out, "a", "packet=pts_time");
    for (const double pauseFrom : {2.0, 12.0}) {
      const auto after = std::find_if(sound.begin(), sound.end(),
                                      [&](const std::string& t) { return std::atof(t.c_str()) >= pauseFrom; });
      ASSERT_NE(after, sound.end()) << name;
      EXPECT_DOUBLE_EQ(std::atof(after->c_str()), pauseFrom + 8) << name;
    }
    // Each picture's cue is its own recording's clock time.
    const std::string cues = RunCommand("ffmpeg -v error -copyts -i '" + out +
                                        "' -map 0:s -f srt - 2>/dev/null </dev/null | sed -e 's/<[^>]*>//g'");
    EXPECT_TRUE(Contains(cues, "51\n00:00:10,000")) << name << cues.substr(0, 300);
    EXPECT_TRUE(Contains(cues, "2008-01-10 02:14:15.000 (UTC)\n\n52\n")) << name;
    EXPECT_TRUE(Contains(cues, "101\n00:00:20,000")) << name;
  }
}

TEST(CliJoin, AWindowAcrossTheFilesHoldsOnlyTheFramesInsideIt) {
  TempDir dir;
  const ThreeRecordings r(dir);
  const std::string out = dir.file("window.avi");
  // From frame 25 of a.zr (1 s in) to frame 25 of b.zr (11 s in); c.zr lies after the window.
  CliRun run = RunCli({"convert", r.a, r.b, r.c, out, "--join", "--codec", "raw", "--idct", "plain", "--from",
                       "2008-01-10T02:14:06Z", "--to", "2008-01-10T02:14:16Z"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("c.zr lies outside the window and is left out."), std::string::npos) << run.out;
  AviStreams joined = ReadStreams(out);
  ASSERT_EQ(joined.pictures.size(), 25u + 200 + 25);
  size_t at = ExpectPictures(joined, 0, r.rawA, 25, 50, "a.zr");
  at = ExpectRepeats(joined, at, r.rawA.pictures.back(), 200, "after a.zr");
  ExpectPictures(joined, at, r.rawB, 0, 25, "b.zr");

  // Positions count from the first frame of the earliest recording: 20.48 s to 21 s is in c.zr.
  run = RunCli({"convert", r.a, r.b, r.c, out, "-y", "--join", "--codec", "raw", "--idct", "plain", "--from", "20.48",
                "--to", "21"});
  ASSERT_EQ(run.status, 0) << run.err;
  joined = ReadStreams(out);
  ASSERT_EQ(joined.pictures.size(), 13u);
  ExpectPictures(joined, 0, r.rawC, 12, 25, "c.zr");
}

TEST(CliJoin, RecordingsThatCannotBeJoinedAreRefusedAndNothingIsWritten) {
  TempDir dir;
  const std::string a = MakeRecording(dir, "a.zr", kStart, 50, 1);
  const std::string b = MakeRecording(dir, "b.zr", kStart + 10, 50, 2);
  const std::string other = MakeRecording(dir, "other.zr", kStart + 20, 25, 3, 1);  // 240 x 176
  const std::string early = MakeRecording(dir, "early.zr", kStart + 1, 50, 4);     // inside a.zr's time
  const std::string out = dir.file("out.avi");

  CliRun run = RunCli({"convert", a, b, other, out, "--join", "--codec", "raw"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("holds pictures of 240 x 176"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("of one size"), std::string::npos) << run.err;

  run = RunCli({"convert", b, early, a, out, "--join", "--codec", "raw"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("overlap"), std::string::npos) << run.err;

  run = RunCli({"convert", a, b, out, "--join", "--codec", "raw", "--from", "2008-01-10T02:15:00Z"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("nothing was written"), std::string::npos) << run.err;

  // Options whose times are not yet placed across joined recordings.
  run = RunCli({"convert", a, b, out, "--join", "--codec", "raw", "--burn-time"});
  EXPECT_EQ(run.status, 2);
  run = RunCli({"convert", a, b, out, "--join", "--codec", "raw", "--timing", "recorded"});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, "Matroska or MP4")) << run.err;

  // The last name is the output: a recording there is refused.
  run = RunCli({"convert", a, b, "--join", "--codec", "raw"});
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace zentrova::testing
