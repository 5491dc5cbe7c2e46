// A file that is cut off after any write the writer makes (a process killed at that moment) is a
// consistent AVI file: its header counts and indexes name only chunks that are on disk, and they
// are at most the last write behind them.
#include <algorithm>
#include <random>

#include "AviTestSupport.h"
#include "TempDir.h"
#include "support/Opened.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

// Keeps the file in memory and lets the test look at it after every single write.
class WatchedSink final : public ByteSink {
 public:
  explicit WatchedSink(std::function<void(const std::vector<uint8_t>&)> afterEach) : afterEach_(std::move(afterEach)) {}

  Expected<void> WriteAt(uint64_t offset, std::initializer_list<Piece> pieces) override {
    for (const Piece& p : pieces) {
      if (offset + p.size > image_.size()) image_.resize(offset + p.size);
      if (p.size) std::memcpy(image_.data() + offset, p.data, p.size);
      offset += p.size;
    }
    afterEach_(image_);
    return {};
  }
  Expected<void> Truncate(uint64_t size) override {
    image_.resize(size);
    afterEach_(image_);
    return {};
  }

 private:
  std::vector<uint8_t> image_;
  std::function<void(const std::vector<uint8_t>&)> afterEach_;
};

struct WatchedRun {
  uint64_t checks = 0;
  uint32_t framesDone = 0;   // pictures whose Write has returned
  uint32_t samplesDone = 0;
  uint32_t worstLag = 0;     // frames the header was behind, at worst
  std::vector<std::vector<uint8_t>> samples;  // a few images kept for ffprobe
};

void WriteWatched(const Clip& clip, const WriterLimits& limits, WatchedRun& run) {
  std::mt19937 random(7);
  std::shared_ptr<OutputFile> file;
  auto sink = std::make_unique<WatchedSink>([&](const std::vector<uint8_t>& image) {
    ++run.checks;
    const std::string when = "after write " + std::to_string(run.checks) + " (" + std::to_string(run.framesDone) +
                             " frames done)";
    const Snapshot s = Inspect(image, when);
    if (!s.started) return;
    // The index is written before the header that counts it.
    EXPECT_GE(s.indexedFrames, s.headerFrames) << when;
    EXPECT_GE(s.indexedSamples, s.headerSamples) << when;
    EXPECT_EQ(s.dmlhFrames, s.headerFrames) << when;
    EXPECT_LE(s.headerFrames, run.framesDone + 1u) << when;
    if (run.framesDone > s.headerFrames) run.worstLag = std::max(run.worstLag, run.framesDone - s.headerFrames);
    if (random() % 500 == 0) run.samples.push_back(image);
  });
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(std::move(sink), limits)));
  ClipWriter w;
  ASSERT_EQ(w.Open(file, clip), 0);
  for (int i = 0; i < clip.frames; ++i) {
    ASSERT_EQ(w.WriteFrame(clip, i), 0);
    run.framesDone = static_cast<uint32_t>(i + 1);
  }
  w.Release();
}

TEST(AviCrash, EveryCutOffPointLeavesHeadersAndIndexesThatNameOnlyWhatIsOnDisk) {
  Clip clip;
  clip.width = 16;
  clip.height = 8;
  clip.frames = 1500;
  clip.audioPerFrame = 32;
  // Small segments, so that the file goes through several of them and each stream's reserved
  // index chunk has to move to larger ones (64, 128, ... entries) within a segment.
  WriterLimits limits{256 * 1024, 16};
  limits.refreshMilliseconds = 0;
  WatchedRun run;
  WriteWatched(clip, limits, run);
  EXPECT_GT(run.checks, 6000u);
  EXPECT_LE(run.worstLag, 1u) << "with a refresh after every write, at most the frame being written is missing";
}

TEST(AviCrash, ImagesCutOffMidwayOpenInFfmpegWithTheirCountedFrames) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  Clip clip;
  clip.width = 64;
  clip.height = 48;
  clip.frames = 600;
  clip.audioPerFrame = 320;
  WriterLimits limits{512 * 1024, 16};
  limits.refreshMilliseconds = 0;
  WatchedRun run;
  WriteWatched(clip, limits, run);
  ASSERT_FALSE(run.samples.empty());
  for (size_t i = 0; i < run.samples.size() && i < 6; ++i) {
    const std::string path = dir.file("cut" + std::to_string(i) + ".avi");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(run.samples[i].data()), static_cast<std::streamsize>(run.samples[i].size()));
    const Snapshot s = Inspect(run.samples[i], path);
    if (!s.started) continue;
    auto v = ProbeStream(path, 0);
    const uint32_t read = static_cast<uint32_t>(std::stoul("0" + v["nb_read_packets"]));
    EXPECT_GE(read, s.headerFrames) << path;
    EXPECT_EQ(v["width"], "64") << path;
    // Every picture ffmpeg finds decodes to the one written.
    const size_t frameBytes = size_t{64} * 48 * 3;
    const std::string video = Decode(path, "-map 0:v -f rawvideo -pix_fmt bgr24");
    ASSERT_EQ(video.size() % frameBytes, 0u) << path;
    for (size_t k = 0; k < video.size() / frameBytes; ++k) {
      const auto expected = Flip(MakePicture(64, 48, static_cast<int>(k)), 64, 48);
      ASSERT_EQ(0, std::memcmp(video.data() + k * frameBytes, expected.data(), frameBytes)) << path << " frame " << k;
    }
  }
}

TEST(AviCrash, AFinishedFileHasOneIndexPerSegmentAndNoStaleOnesNamed) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string path = dir.file("finished.avi");
  Clip clip;
  clip.width = 16;
  clip.height = 8;
  clip.frames = 1500;
  clip.audioPerFrame = 32;
  WriterLimits limits{256 * 1024, 16};
  limits.refreshMilliseconds = 0;
  WriteClip(path, clip, limits);
  const std::vector<uint8_t> bytes = ReadFile(path);
  const Snapshot s = Inspect(bytes, path);
  EXPECT_EQ(s.headerFrames, 1500u);
  EXPECT_EQ(s.indexedFrames, 1500u);
  EXPECT_EQ(s.indexedSamples, 1500u * 32);
  EXPECT_EQ(ProbeStream(path, 0)["nb_read_packets"], "1500");
  EXPECT_EQ(Decode(path, "-map 0:a -f s16le").size(), size_t{1500} * 32 * 2);
  // The index chunks left behind by a move are JUNK; the ones in use are named by the super
  // index, one per stream per segment.
  const auto indx = Find(ListRiffChunks(bytes), "AVI /hdrl/strl/indx");
  ASSERT_EQ(indx.size(), 2u);
  const uint32_t segments = Le32(&bytes[indx[0].data + 4]);
  EXPECT_GE(segments, 2u);
  size_t ixChunks = 0, junk = 0;
  for (const RiffChunk& c : ListRiffChunks(bytes)) {
    if (c.path.find("/movi/ix") != std::string::npos) ++ixChunks;
    if (c.path.find("/movi/JUNK") != std::string::npos) ++junk;
  }
  EXPECT_EQ(ixChunks, 2u * segments);
  EXPECT_GT(junk, 0u) << "the reserved index chunks never had to move";
}

}  // namespace
}  // namespace zentrova::avi
