// convert --join: recordings of one camera written into one output in time order, the pauses
// between them filled with repeats of the last picture and silence; windows across the files;
// recordings that cannot be joined refused before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "CliTestSupport.h"
#include "avi/AviTestSupport.h"

namespace zentrova::testing {
namespace {

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

struct AviStreams {
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<uint8_t> sound;
};

AviStreams ReadStreams(const std::string& path) {
  AviStreams s;
  const std::vector<uint8_t> f = avi::testing::ReadFile(path);
  for (const avi::RiffChunk& c : avi::ListRiffChunks(f)) {
    const std::string tail = c.path.size() >= 4 ? c.path.substr(c.path.size() - 4) : "";
    if (c.path.find("movi/") == std::string::npos) continue;
    if (tail == "00db" || tail == "00dc") s.pictures.emplace_back(f.begin() + c.data, f.begin() + c.data + c.size);
    if (tail == "01wb") s.sound.insert(s.sound.end(), f.begin() + c.data, f.begin() + c.data + c.size);
  }
  return s;
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
  const CliRun run = RunCli({"convert", r.c, r.a, r.b, out, "--join", "--codec", "raw", "--idct", "plain"});
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

  // One thread decodes the sound on the writing side: the same file.
  const std::string oneThread = dir.file("one-thread.avi");
  ASSERT_EQ(RunCli({"convert", r.a, r.b, r.c, oneThread, "--join", "--codec", "raw", "--idct", "plain", "--threads", "1"})
                .status,
            0);
  EXPECT_EQ(avi::testing::ReadFile(oneThread), avi::testing::ReadFile(out));
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

  // The last name is the output: a recording there is refused.
  run = RunCli({"convert", a, b, "--join", "--codec", "raw"});
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace zentrova::testing
