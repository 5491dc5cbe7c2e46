// Whole conversions through the job: what the frame loop hands to the AVI file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "avi/AviTestSupport.h"
#include "convert/ConversionJob.h"
#include "convert/FramePipeline.h"
#include "convert/Messages.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "zrgen/TestPattern.h"
#include "zrgen/VideoEncoder.h"

namespace zentrova {
namespace {

using avi::testing::Decode;
using avi::testing::ProbeStream;
using testing::TempDir;

struct JobRun {
  explicit JobRun(std::string codec = "raw", JobOptions options = {})
      : codec(std::move(codec)), job([this](const std::string& l) { log.push_back(l); }, {}, options) {}
  bool convert(const std::string& in, const std::string& out) {
    return job.Run(in, out, [this] { return std::optional(avi::CompressOptions{codec, 100}); });
  }
  std::string codec;
  std::vector<std::string> log;
  ConversionJob job;
};

const std::vector<std::string> kSavedLog = {messages::kSaving, messages::kSaved};

// 176 x 144 (code 128) recordings over `seconds` seconds.
ZrHeaderFields Fields(int seconds) {
  ZrHeaderFields f;
  f.resolutionCode = 128;
  f.startTime = 1700000000;
  f.endTime = f.startTime + seconds;
  return f;
}

int VideoFrames(const std::string& path) { return std::stoi(ProbeStream(path, 0)["nb_read_packets"]); }
size_t AudioBytes(const std::string& path) { return Decode(path, "-map 0:a -f s16le").size(); }

TEST(ConversionRun, AFetchThatFailsEndsTheLoopWithTheFramesSoFarAndStillSavesThenSaysSo) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  // The block promises 100 frames; the file ends after the 10th.
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("cut.zr"), Fields(10)));
  const std::vector<uint8_t> video(40, 1);
  for (int i = 0; i < 100; ++i) {
    ZrFrame f;
    f.flags = FlagNoPicture;
    f.video = video;
    ASSERT_TRUE(w.WriteFrame(f));
  }
  ASSERT_TRUE(w.Close());
  std::filesystem::resize_file(dir.file("cut.zr"), std::filesystem::file_size(dir.file("cut.zr")) - 90 * 52);

  JobRun run;
  ASSERT_TRUE(run.convert(dir.file("cut.zr"), dir.file("cut.avi")));
  EXPECT_EQ(run.log, (std::vector<std::string>{messages::kSaving, messages::kSaved,
                                               "The recording ended after 10 of 100 frames."}));
  EXPECT_EQ(VideoFrames(dir.file("cut.avi")), 10);
  EXPECT_FALSE(run.job.busy());
}

TEST(ConversionRun, FramesWithoutPicturesAreBlackAndOnlyFlaggedAudioIsAppended) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("a.zr"), Fields(1)));
  const std::vector<uint8_t> second(3000, 0x49), garbage(500, 0xAB);
  ZrFrame f;
  f.flags = FlagAudio | FlagNoPicture;  // one second of sound
  f.video = garbage;
  f.audio = second;
  ASSERT_TRUE(w.WriteFrame(f));
  f.flags = FlagNoPicture;  // no audio flag: the record's earlier byte count must not count
  ASSERT_TRUE(w.WriteFrame(f));
  f.flags = FlagAudio | FlagNoPicture;  // flagged, but no bytes
  f.audio = {};
  ASSERT_TRUE(w.WriteFrame(f));
  f.audio = std::span(second).first(301);  // 100 whole groups and one stray byte
  ASSERT_TRUE(w.WriteFrame(f));
  ASSERT_TRUE(w.Close());

  JobRun run;
  ASSERT_TRUE(run.convert(dir.file("a.zr"), dir.file("a.avi")));
  EXPECT_EQ(AudioBytes(dir.file("a.avi")), (8000u + 800u) * 2);
  const std::string pictures = Decode(dir.file("a.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24");
  ASSERT_EQ(pictures.size(), 4u * 176 * 144 * 3);
  EXPECT_TRUE(std::all_of(pictures.begin(), pictures.end(), [](char c) { return c == 0; }));
}

TEST(ConversionRun, ASecondJobStartsItsStreamsAtZeroAgain) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("r.zr"), Fields(2)));
  const std::vector<uint8_t> audio(300, 0x92);
  for (int i = 0; i < 5; ++i) {
    ZrFrame f;
    f.flags = FlagAudio | FlagNoPicture;
    f.audio = audio;
    ASSERT_TRUE(w.WriteFrame(f));
  }
  ASSERT_TRUE(w.Close());
  JobRun run;
  ASSERT_TRUE(run.convert(dir.file("r.zr"), dir.file("one.avi")));
  ASSERT_TRUE(run.convert(dir.file("r.zr"), dir.file("two.avi")));
  EXPECT_EQ(run.log.size(), 4u);
  EXPECT_EQ(AudioBytes(dir.file("one.avi")), 5u * 800 * 2);
  EXPECT_EQ(Decode(dir.file("two.avi"), "-map 0:a -f s16le"), Decode(dir.file("one.avi"), "-map 0:a -f s16le"));
  EXPECT_EQ(VideoFrames(dir.file("two.avi")), 5);
}

// `frames` frames without pictures, at resolution `code` (128: 176 x 144, 1: 240 x 176).
void WriteBlankRecording(const std::string& path, int frames, uint8_t code = 128) {
  ZrHeaderFields fields = Fields(1);
  fields.resolutionCode = code;
  ZrWriter w;
  ASSERT_TRUE(w.Open(path, fields));
  for (int i = 0; i < frames; ++i) {
    ZrFrame f;
    f.flags = FlagNoPicture;
    ASSERT_TRUE(w.WriteFrame(f));
  }
  ASSERT_TRUE(w.Close());
}

TEST(ConversionRun, AJoinedRecordingThatCannotBeReadEndsTheJobThereWithTheFramesBeforeItAndSaysWhy) {
  TempDir dir;
  WriteBlankRecording(dir.file("first.zr"), 5);
  WriteBlankRecording(dir.file("wider.zr"), 4, 1);
  struct Case {
    std::string joined;
    std::string why;
  } cases[] = {
      {dir.file("wider.zr"), "its pictures (240 x 176, generation"},
      {dir.file("gone.zr"), "No such file or directory"},
  };
  for (const Case& c : cases) {
    JobOptions options;
    options.joined = {JoinedRecording{c.joined, std::nullopt, 4, 0, 0, nullptr}};
    std::vector<std::string> reasons;
    ConversionJob job([](const std::string&) {}, {}, options, [&](const std::string& r) { reasons.push_back(r); });
    const std::string out = dir.file("joined.avi");
    ASSERT_EQ(job.Convert(dir.file("first.zr"), out, [] { return std::optional(avi::CompressOptions{"raw", 1}); }),
              ConversionJob::Setup::Started)
        << c.joined;
    const ConversionJob::LoopResult result = job.RunFrameLoop();
    EXPECT_EQ(result.outcome, JobOutcome::RecordingShort) << c.joined;
    EXPECT_EQ(result.framesWritten, 5u) << c.joined;
    EXPECT_TRUE(result.reason.starts_with(c.joined + ": ")) << result.reason;
    EXPECT_NE(result.reason.find(c.why), std::string::npos) << result.reason;
    job.Finish();
    ASSERT_EQ(reasons.size(), 1u) << c.joined;
    EXPECT_EQ(reasons[0], result.reason);
    std::filesystem::remove(out);
  }
}

TEST(ConversionRun, ACancelledChoiceLogsNothingReleasesEverythingAndLeavesNoFile) {
  TempDir dir;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("r.zr"), Fields(2)));
  ZrFrame f;
  ASSERT_TRUE(w.WriteFrame(f));
  ASSERT_TRUE(w.Close());
  std::vector<std::string> log;
  ConversionJob job([&](const std::string& l) { log.push_back(l); });
  EXPECT_EQ(job.Convert(dir.file("r.zr"), dir.file("clipavi"), [] { return std::nullopt; }),
            ConversionJob::Setup::Cancelled);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(job.busy());
  EXPECT_FALSE(std::filesystem::exists(dir.file("clipavi")));  // nothing was converted into it
  // A new Convert works normally, and names the file exactly as given.
  EXPECT_TRUE(job.Run(dir.file("r.zr"), dir.file("clipavi"), [] { return std::optional(avi::CompressOptions{"raw", 1}); }));
  EXPECT_EQ(log, kSavedLog);
  EXPECT_TRUE(std::filesystem::exists(dir.file("clipavi")));
}

TEST(ConversionRun, AZeroDurationRecordingGetsTheDefaultRate) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("z.zr"), Fields(0)));
  ZrFrame f;
  ASSERT_TRUE(w.WriteFrame(f));
  ASSERT_TRUE(w.Close());
  JobRun run;
  ASSERT_TRUE(run.convert(dir.file("z.zr"), dir.file("z.avi")));
  EXPECT_EQ(run.job.rate().rate, kDefaultRate);
  EXPECT_EQ(run.job.rate().source, RateSource::NoTiming);
  EXPECT_EQ(ProbeStream(dir.file("z.avi"), 0)["r_frame_rate"], "25/1");
}

TEST(ConversionRun, TheJobReportsTheDerivedGeometryAndGeneration) {
  TempDir dir;
  ZrHeaderFields fields = Fields(10);
  fields.version = kVersionNewer;
  fields.resolutionCode = 133;  // 704 x 288
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("n.zr"), fields));
  ZrFrame f;
  f.flags = FlagNoPicture;
  for (int i = 0; i < 250; ++i) ASSERT_TRUE(w.WriteFrame(f));
  ASSERT_TRUE(w.Close());
  std::vector<std::string> log;
  ConversionJob job([&](const std::string& l) { log.push_back(l); });
  ASSERT_EQ(job.Convert(dir.file("n.zr"), dir.file("n.avi"), [] { return std::optional(avi::CompressOptions{"raw", 1}); }),
            ConversionJob::Setup::Started);
  EXPECT_EQ(job.rate().rate, (FrameRate{25, 1}));  // 250 frames over 10 s, no sound
  EXPECT_EQ(job.videoFormat().biWidth, 704);
  EXPECT_EQ(job.outputHeight(), 576);
  EXPECT_EQ(job.codecStamp(), kGenerationNewer);
  EXPECT_TRUE(job.busy());
  EXPECT_EQ(job.RunFrameLoop().framesWritten, 250u);
  EXPECT_FALSE(job.busy());
}

}  // namespace
}  // namespace zentrova

namespace zentrova {
namespace {

// Frames: a real picture, bytes without a start code, a frame without picture, bytes without a
// start code again. The AVI shows the picture, the picture again, black, black.
void CheckRepeatedPictures(uint8_t resolutionCode, int width, int height) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  zrgen::EncoderSettings settings;
  settings.codedWidth = width;
  settings.codedHeight = height;
  settings.idct = IdctChoice::Plain;
  zrgen::VideoEncoder encoder;
  ASSERT_TRUE(encoder.Initialise(settings));
  const zrgen::EncodedPicture intra = encoder.Encode(zrgen::TestPattern(width, height, 3));
  ASSERT_TRUE(intra.error.empty()) << intra.error;
  ASSERT_EQ(encoder.deliveredWidth(), width);
  ASSERT_EQ(encoder.deliveredHeight(), height);
  const std::vector<uint8_t> delivered(encoder.deliveredPicture().begin(),
                                       encoder.deliveredPicture().begin() + width * height * 3);

  ZrHeaderFields fields = Fields(1);
  fields.resolutionCode = resolutionCode;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("r.zr"), fields));
  const std::vector<uint8_t> noStartCode(64, 0xFF);
  ZrFrame f;
  f.video = intra.bytes;
  ASSERT_TRUE(w.WriteFrame(f));
  f.video = noStartCode;
  ASSERT_TRUE(w.WriteFrame(f));
  f.flags = FlagNoPicture;
  ASSERT_TRUE(w.WriteFrame(f));
  f.flags = 0;
  ASSERT_TRUE(w.WriteFrame(f));
  ASSERT_TRUE(w.Close());

  JobRun run("raw", {IdctChoice::Plain});
  ASSERT_TRUE(run.convert(dir.file("r.zr"), dir.file("r.avi")));

  const int outHeight = ConversionJob::ComputeOutputHeight(width, height);
  std::vector<uint8_t> expected = delivered;
  if (outHeight != height) {
    expected.assign(static_cast<size_t>(width) * outHeight * 3, 0);
    DoubleLines(delivered.data(), width, height, expected.data());
  }
  const std::string out = Decode(dir.file("r.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24");
  const size_t frameBytes = expected.size();
  ASSERT_EQ(out.size(), 4 * frameBytes);
  auto frame = [&](int i) {
    std::vector<uint8_t> shown(out.begin() + i * frameBytes, out.begin() + (i + 1) * frameBytes);
    return avi::testing::Flip(shown, width, outHeight);  // ffmpeg shows the bottom-up rows upright
  };
  EXPECT_EQ(frame(0), expected);
  EXPECT_EQ(frame(1), expected);
  EXPECT_EQ(frame(2), std::vector<uint8_t>(frameBytes, 0));
  EXPECT_EQ(frame(3), std::vector<uint8_t>(frameBytes, 0));
}

TEST(ConversionRun, AFrameWithoutAStartCodeRepeatsThePreviousPicture) { CheckRepeatedPictures(128, 176, 144); }

TEST(ConversionRun, LineDoubledPicturesRepeatToo) { CheckRepeatedPictures(3, 640, 240); }

}  // namespace
}  // namespace zentrova
