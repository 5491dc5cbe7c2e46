// The frame loop in two stages: the hand-over itself, and whole conversions that must write the
// same files on one thread as on two, stop where cancel says, and give the lossy compressors the
// decoder's planes at least as faithfully as 24-bit pictures would.
#include "convert/FramePipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <stdexcept>

#include "TempDir.h"
#include "avi/AviTestSupport.h"
#include "convert/ConversionJob.h"
#include "zrgen/RecordingGenerator.h"
#include "support/Opened.h"

namespace zentrova {
namespace {

using avi::testing::Decode;
using avi::testing::ReadFile;
using testing::TempDir;

TEST(FramePipeline, FramesArriveInOrderAndNeverMoreThanTheSlotsAhead) {
  for (const bool threaded : {false, true}) {
    FramePipeline pipeline(3, threaded);
    EXPECT_EQ(pipeline.slotCount(), threaded ? 3u : 1u);
    std::mutex m;
    std::vector<int> inSlot(pipeline.slotCount(), -1);
    int produced = 0, consumed = 0, maxAhead = 0;
    pipeline.Run(
        [&](size_t slot) {
          std::lock_guard lock(m);
          if (produced == 200) return false;
          inSlot[slot] = produced++;
          maxAhead = std::max(maxAhead, produced - consumed);
          return true;
        },
        [&](size_t slot) {
          std::lock_guard lock(m);
          EXPECT_EQ(inSlot[slot], consumed);
          ++consumed;
          return true;
        });
    EXPECT_EQ(consumed, 200);
    EXPECT_LE(maxAhead, static_cast<int>(pipeline.slotCount()));
  }
}

TEST(FramePipeline, AStopFromTheWriterEndsTheReaderAndFailuresReachTheCaller) {
  FramePipeline pipeline(2, true);
  std::atomic<int> produced = 0;
  int consumed = 0;
  pipeline.Run([&](size_t) { return ++produced < 1000; }, [&](size_t) { return ++consumed < 5; });
  EXPECT_EQ(consumed, 5);
  EXPECT_LE(produced.load(), 5 + 2 + 1);

  EXPECT_THROW(pipeline.Run([](size_t) -> bool { throw std::runtime_error("read"); }, [](size_t) { return true; }),
               std::runtime_error);
  EXPECT_THROW(pipeline.Run([](size_t) { return true; }, [](size_t) -> bool { throw std::runtime_error("write"); }),
               std::runtime_error);
}

std::string MakeRecording(const TempDir& dir, const std::string& name, uint8_t code, uint16_t version, int frames) {
  zrgen::GeneratorOptions o;
  o.output = dir.file(name);
  o.resolutionCode = code;
  o.version = version;
  o.frames = frames;
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  EXPECT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
  return o.output;
}

struct Converted {
  bool saved = false;
  uint32_t rate = 0;
  ConversionJob::LoopResult result;
  std::vector<std::string> log;
};

Converted Convert(const std::string& in, const std::string& out, const std::string& codec, unsigned threads,
                  const std::atomic<bool>* cancel = nullptr, const ProgressSink& progress = {}) {
  Converted c;
  JobOptions options;
  options.idct = IdctChoice::Plain;
  options.overwrite = true;
  options.threads = threads;
  ConversionJob job([&](const std::string& l) { c.log.push_back(l); }, {}, options);
  if (job.Convert(in, out, [&] { return std::optional(avi::CompressOptions{codec, 90}); }) !=
      ConversionJob::Setup::Started)
    return c;
  c.rate = static_cast<uint32_t>(std::lround(job.rate().rate.fps()));
  c.result = job.RunFrameLoop(cancel, progress);
  job.Finish();
  c.saved = true;
  return c;
}

// mpeg4 and mjpeg are coded in lanes fixed whatever the thread count, so their bytes do not depend on the
// threads either.
TEST(FramePipelineJob, OneThreadAndTwoWriteTheSameFile) {
  TempDir dir;
  const std::string newer = MakeRecording(dir, "newer.zr", 133, 4096, 40);
  const std::string older = MakeRecording(dir, "older.zr", 130, 257, 40);
  for (const std::string& in : {newer, older}) {
    for (const std::string codec : {"raw", "ffv1", "mpeg4", "mjpeg"}) {
      const Converted one = Convert(in, dir.file("one.avi"), codec, 1);
      const Converted two = Convert(in, dir.file("two.avi"), codec, 2);
      ASSERT_TRUE(one.saved && two.saved) << codec;
      EXPECT_EQ(one.result.framesWritten, 40u);
      EXPECT_EQ(two.result.framesWritten, 40u);
      EXPECT_EQ(one.log, two.log);
      EXPECT_TRUE(ReadFile(dir.file("one.avi")) == ReadFile(dir.file("two.avi"))) << codec << " " << in;
    }
  }
}

TEST(FramePipelineJob, CancelStopsAfterTheFrameItWasAskedAtWithEitherCount) {
  TempDir dir;
  const std::string in = MakeRecording(dir, "r.zr", 130, 257, 60);
  for (const unsigned threads : {1u, 2u}) {
    std::atomic<bool> cancel = false;
    std::vector<uint32_t> seen;
    const std::string out = dir.file("c" + std::to_string(threads) + ".avi");
    const Converted c = Convert(in, out, "mpeg4", threads, &cancel, [&](uint32_t done, uint32_t total) {
      seen.push_back(done);
      EXPECT_EQ(total, 60u);
      if (done == 7) cancel = true;
    });
    ASSERT_TRUE(c.saved);
    EXPECT_TRUE(c.result.cancelled);
    EXPECT_EQ(c.result.outcome, JobOutcome::Cancelled);
    EXPECT_EQ(c.result.framesWritten, 7u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(c.log.at(1), "Conversion cancelled: 7 of 60 frames saved.");
    if (avi::testing::HaveFfmpegTools()) {
      EXPECT_EQ(avi::testing::ProbeStream(out, 0)["nb_read_packets"], "7");
    }
  }
}

// Mean PSNR over all bytes of two runs of 24-bit pictures.
double MeanPsnr(const std::string& a, const std::string& b, size_t frameBytes) {
  EXPECT_EQ(a.size(), b.size());
  const size_t frames = std::min(a.size(), b.size()) / frameBytes;
  double sum = 0;
  for (size_t f = 0; f < frames; ++f) {
    double se = 0;
    for (size_t i = f * frameBytes; i < (f + 1) * frameBytes; ++i) {
      const double d = static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i]);
      se += d * d;
    }
    const double mse = se / static_cast<double>(frameBytes);
    sum += mse == 0 ? 100 : 10 * std::log10(255.0 * 255.0 / mse);
  }
  return frames ? sum / static_cast<double>(frames) : 0;
}

// The lossy codecs get the planes straight from the decoder; as a player decodes them, they must
// come at least as close to the uncompressed conversion as the same codec fed those 24-bit
// pictures. This also holds the range and matrix flags to what ffmpeg assumes.
TEST(FramePipelineJob, PlanesAreAtLeastAsFaithfulAsTwentyFourBitPictures) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  struct Case {
    const char* name;
    uint8_t code;
    uint16_t version;
    int width, height;
  };
  for (const Case k : {Case{"newer", 133, 4096, 704, 576}, Case{"older", 130, 257, 352, 288}}) {
    const std::string in = MakeRecording(dir, std::string(k.name) + ".zr", k.code, k.version, 30);
    ASSERT_TRUE(Convert(in, dir.file("raw.avi"), "raw", 0).saved);
    const std::string raw = Decode(dir.file("raw.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24");
    const size_t frameBytes = static_cast<size_t>(k.width) * k.height * 3;
    ASSERT_EQ(raw.size(), 30 * frameBytes);
    for (const std::string codec : {"mpeg4", "mjpeg", "h264"}) {
      const Converted planar = Convert(in, dir.file("planes.avi"), codec, 0);
      ASSERT_TRUE(planar.saved);
      // The same codec fed the 24-bit frames of the uncompressed file.
      {
        avi::testing::Clip clip;
        clip.codec = codec;
        clip.width = k.width;
        clip.height = k.height;
        clip.rate = planar.rate;  // the same key-frame distance
        std::shared_ptr<OutputFile> file;
        ASSERT_TRUE(zentrova::testing::Opened(file, avi::OpenAviFile(dir.file("rgb.avi"))));
        avi::testing::ClipWriter cw;
        ASSERT_EQ(cw.Open(std::move(file), clip), 0);
        for (int i = 0; i < 30; ++i) {
          // ffmpeg shows the bottom-up rows upright; the stream takes them bottom-up.
          std::vector<uint8_t> shown(raw.begin() + i * frameBytes, raw.begin() + (i + 1) * frameBytes);
          const std::vector<uint8_t> frame = avi::testing::Flip(shown, k.width, k.height);
          ASSERT_TRUE(cw.compressed->Write(i, 1, frame.data(), static_cast<int32_t>(frame.size()), kKeyFrame));
        }
        cw.Release();
      }
      const double planes = MeanPsnr(Decode(dir.file("planes.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24"), raw,
                                     frameBytes);
      const double rgb = MeanPsnr(Decode(dir.file("rgb.avi"), "-map 0:v -f rawvideo -pix_fmt bgr24"), raw, frameBytes);
      EXPECT_GE(planes, rgb) << k.name << " " << codec;
      EXPECT_GT(planes, 30) << k.name << " " << codec;
      RecordProperty(std::string(k.name) + "_" + codec, std::to_string(planes) + " / " + std::to_string(rgb));
      std::printf("%s %s: planes %.3f dB, 24-bit %.3f dB\n", k.name, codec.c_str(), planes, rgb);
    }
  }
}

TEST(LineDoubling, AveragesEachByteOfNeighbouringRowsAndRepeatsTheLastRow) {
  const int32_t w = 4, h = 3;
  std::vector<uint8_t> picture(w * h * 3);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7);
  picture[0] = 10;
  picture[w * 3] = 13;  // row 1, first byte
  std::vector<uint8_t> frame(w * 2 * h * 3, 0xEE);
  DoubleLines(picture.data(), w, h, frame.data());
  const size_t row = w * 3;
  EXPECT_EQ(frame[row], 11);  // (10 + 13) / 2 rounded down
  for (int r = 0; r < h; ++r) {
    for (size_t k = 0; k < row; ++k) {
      EXPECT_EQ(frame[2 * r * row + k], picture[r * row + k]);
      const uint8_t below = r + 1 < h ? picture[(r + 1) * row + k] : picture[r * row + k];
      EXPECT_EQ(frame[(2 * r + 1) * row + k], (picture[r * row + k] + below) / 2);
    }
  }
}


}  // namespace
}  // namespace zentrova
