// Groups of pictures decoded side by side: whatever the number of threads, a conversion writes
// the file one decoder writes, byte for byte, with the same counts and lines, for whole
// recordings, damaged ones, the hostile corpus and the pictures that cannot be decoded alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "TempDir.h"
#include "avi/AviTestSupport.h"
#include "convert/ConversionJob.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"
#include "video/BitReader.h"
#include "video/PictureHeader.h"
#include "zrgen/Damage.h"
#include "zrgen/Gallery.h"
#include "zrgen/RecordingGenerator.h"
#include "zrgen/RecordingLayout.h"
#include "zrgen/TestPattern.h"
#include "zrgen/VideoEncoder.h"

namespace zentrova {
namespace {

using avi::testing::ReadFile;
using testing::TempDir;
namespace fs = std::filesystem;

struct Outcome {
  ConversionJob::Setup setup = ConversionJob::Setup::Failed;
  ConversionJob::LoopResult result;
  std::vector<std::string> log;
  std::vector<uint8_t> file;
};

Outcome Convert(const std::string& in, const std::string& out, const std::string& codec, unsigned threads) {
  Outcome o;
  JobOptions options;
  options.idct = IdctChoice::Plain;
  options.overwrite = true;
  options.threads = threads;
  ConversionJob job([&](const std::string& l) { o.log.push_back(l); }, {}, options);
  o.setup = job.Convert(in, out, [&] { return std::optional(avi::CompressOptions{codec, 90}); });
  if (o.setup == ConversionJob::Setup::Started) {
    o.result = job.RunFrameLoop();
    job.Finish();
  }
  if (fs::exists(out)) {
    o.file = ReadFile(out);
    fs::remove(out);
  }
  return o;
}

// Converts `in` on one thread, then on each of `threads`, and expects the same of every run.
void ExpectSameOnAnyThreads(const std::string& in, const std::string& out, const std::string& codec,
                            std::initializer_list<unsigned> threads = {2, 3, 8}) {
  const Outcome one = Convert(in, out, codec, 1);
  for (const unsigned n : threads) {
    const Outcome many = Convert(in, out, codec, n);
    const std::string what = in + " " + codec + " on " + std::to_string(n) + " threads";
    EXPECT_EQ(many.setup, one.setup) << what;
    EXPECT_EQ(many.log, one.log) << what;
    EXPECT_EQ(many.result.framesWritten, one.result.framesWritten) << what;
    EXPECT_EQ(many.result.damagedPictures, one.result.damagedPictures) << what;
    EXPECT_EQ(many.result.firstDamagedFrame, one.result.firstDamagedFrame) << what;
    EXPECT_EQ(many.result.resizedPictures, one.result.resizedPictures) << what;
    EXPECT_EQ(many.result.outcome, one.result.outcome) << what;
    EXPECT_TRUE(many.file == one.file) << what << ": the files differ";
  }
}

TEST(ParallelDecoding, TheGalleryIsWrittenTheSameOnAnyNumberOfThreads) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(zrgen::WriteGallery(dir.path().string(), &error)) << error;
  int recordings = 0;
  for (const zrgen::GalleryItem& item : zrgen::GalleryItems()) {
    for (const std::string codec : {"raw", "ffv1"}) ExpectSameOnAnyThreads(dir.file(item.name), dir.file("out.avi"), codec);
    ++recordings;
  }
  EXPECT_GT(recordings, 5);
}

// A recording long enough for many groups, with sound, damaged the ways disks and recorders do.
TEST(ParallelDecoding, DamagedRecordingsAreWrittenTheSameOnAnyNumberOfThreads) {
  TempDir dir;
  zrgen::GeneratorOptions g;
  g.output = dir.file("whole.zr");
  g.frames = 120;
  g.intraPeriod = 10;
  g.framesPerBlock = 5;
  g.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(g, report)) << report.error;
  ExpectSameOnAnyThreads(g.output, dir.file("out.avi"), "raw");
  zrgen::RecordingLayout layout;
  std::string error;
  ASSERT_TRUE(zrgen::ReadRecordingLayout(g.output, layout, error)) << error;
  for (const zrgen::DamageClass damage : {zrgen::DamageClass::BadSectorVideo, zrgen::DamageClass::BadSectorFrame,
                                          zrgen::DamageClass::BadSectorBlock, zrgen::DamageClass::Truncated}) {
    for (const uint64_t seed : {1u, 2u, 3u}) {
      zrgen::DamagedFile damaged;
      ASSERT_TRUE(zrgen::DamageRecordings(damage, {layout}, seed, 1, damaged, error)) << error;
      const std::string path = dir.file(std::string(zrgen::DamageClassName(damage)) + std::to_string(seed) + ".zr");
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(damaged.bytes.data()), static_cast<std::streamsize>(damaged.bytes.size()));
      ExpectSameOnAnyThreads(path, dir.file("out.avi"), "raw", {3});
    }
  }
}

TEST(ParallelDecoding, TheHostileCorpusEndsTheSameOnAnyNumberOfThreads) {
  TempDir dir;
  int recordings = 0;
  for (const auto& entry : fs::directory_iterator(ZENTROVA_HOSTILE_CORPUS)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".zr") continue;
    ExpectSameOnAnyThreads(entry.path().string(), dir.file("out.avi"), "raw", {3});
    ++recordings;
  }
  EXPECT_GT(recordings, 10);
}

// Coded pictures of the moving pattern at one size, an intra picture every `intraPeriod`.
std::vector<std::vector<uint8_t>> Encode(int width, int height, int count, int intraPeriod, int firstFrame) {
  zrgen::EncoderSettings settings;
  settings.codedWidth = width;
  settings.codedHeight = height;
  settings.intraPeriod = intraPeriod;
  settings.idct = IdctChoice::Plain;
  zrgen::VideoEncoder encoder;
  EXPECT_TRUE(encoder.Initialise(settings));
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < count; ++i) out.push_back(encoder.Encode(zrgen::TestPattern(width, height, firstFrame + 3 * i)).bytes);
  return out;
}

// The intra picture announcing another size than it was coded at: with a size that is not a
// whole number of macroblocks, part of its planes is left from the pictures before it.
std::vector<uint8_t> Announcing(std::vector<uint8_t> bytes, uint32_t width, uint32_t height) {
  auto put = [&](int at, int bits, uint32_t value) {
    for (int b = 0; b < bits; ++b) {
      const int bit = at + b;
      const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
      if ((value >> (bits - 1 - b)) & 1) bytes[bit / 8] |= mask;
      else bytes[bit / 8] &= static_cast<uint8_t>(~mask);
    }
  };
  // The start code at bit 0, as the encoder puts it, then the type and the two sizes.
  put(kPictureStartCodeBits + 2, 10, width);
  put(kPictureStartCodeBits + 12, 10, height);
  BitReader reader;
  reader.Reset(bytes.data(), bytes.size());
  EXPECT_TRUE(FindStartCode(reader));
  const PictureHeader header = ReadPictureHeader(reader);
  EXPECT_TRUE(header.intra() && header.width == width && header.height == height);
  return bytes;
}

// Every kind of picture whose frame depends on what came before its group: inter pictures
// before the first intra one, a broken intra picture (which repeats the picture before it), a
// smaller picture and a larger one after it, sizes that leave part of the planes as they were.
TEST(ParallelDecoding, PicturesThatCannotBeDecodedAloneShowWhatOneDecoderShows) {
  using Bytes = std::vector<uint8_t>;
  const auto first = Encode(352, 288, 9, 9, 0);
  const auto second = Encode(352, 288, 6, 6, 20);
  const auto small = Encode(176, 144, 4, 4, 30);
  const auto third = Encode(352, 288, 5, 5, 40);
  std::vector<Bytes> video;
  for (int i = 1; i < 4; ++i) video.push_back(first[i]);  // no intra picture yet
  for (const Bytes& b : first) video.push_back(b);
  Bytes broken = second[0];
  std::fill(broken.begin() + static_cast<std::ptrdiff_t>(broken.size() / 3), broken.end(), 0xFF);
  video.push_back(broken);
  for (size_t i = 1; i < second.size(); ++i) video.push_back(second[i]);
  video.push_back({});  // a frame without a picture
  for (const Bytes& b : small) video.push_back(b);
  for (const Bytes& b : third) video.push_back(b);
  video.push_back(Announcing(second[0], 352, 280));
  for (size_t i = 1; i < 4; ++i) video.push_back(second[i]);
  video.push_back(Announcing(third[0], 336, 288));
  video.push_back(third[1]);
  for (const Bytes& b : first) video.push_back(b);
  video.push_back(Announcing(third[0], 352, 280));
  for (const Bytes& b : third) video.push_back(b);

  TempDir dir;
  ZrHeaderFields fields;
  fields.version = 257;
  fields.resolutionCode = 130;
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + 4;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("r.zr"), fields));
  for (const Bytes& bytes : video) {
    ZrFrame f;
    f.flags = bytes.empty() ? FlagNoPicture : 0;
    f.video = bytes;
    ASSERT_TRUE(w.WriteFrame(f));
  }
  ASSERT_TRUE(w.Close());

  const Outcome one = Convert(dir.file("r.zr"), dir.file("one.avi"), "raw", 1);
  ASSERT_EQ(one.result.framesWritten, video.size());
  EXPECT_GT(one.result.damagedPictures, 0u);
  EXPECT_GT(one.result.resizedPictures, 0u);
  for (const std::string codec : {"raw", "ffv1"}) ExpectSameOnAnyThreads(dir.file("r.zr"), dir.file("out.avi"), codec);
}

// Frames wait in memory made for the recording's own size; pictures larger than it, in groups
// of their own and after smaller ones, are shown whole and the same as one decoder shows them.
TEST(ParallelDecoding, PicturesLargerThanTheRecordingAreShownWhole) {
  using Bytes = std::vector<uint8_t>;
  const auto own = Encode(176, 144, 6, 6, 0);
  const auto large = Encode(352, 288, 6, 6, 20);
  std::vector<Bytes> video;
  for (int round = 0; round < 3; ++round) {
    for (const Bytes& b : own) video.push_back(b);
    for (const Bytes& b : large) video.push_back(b);
  }
  TempDir dir;
  ZrHeaderFields fields;
  fields.version = 257;
  fields.resolutionCode = 128;  // 176 x 144
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + 2;
  ZrWriter w;
  ASSERT_TRUE(w.Open(dir.file("r.zr"), fields));
  for (const Bytes& bytes : video) {
    ZrFrame f;
    f.video = bytes;
    ASSERT_TRUE(w.WriteFrame(f));
  }
  ASSERT_TRUE(w.Close());

  const Outcome one = Convert(dir.file("r.zr"), dir.file("one.avi"), "raw", 1);
  ASSERT_EQ(one.result.framesWritten, video.size());
  EXPECT_EQ(one.result.damagedPictures, 0u);
  EXPECT_EQ(one.result.resizedPictures, 3 * large.size());
  for (const std::string codec : {"raw", "ffv1"}) ExpectSameOnAnyThreads(dir.file("r.zr"), dir.file("out.avi"), codec);
}

}  // namespace
}  // namespace zentrova
