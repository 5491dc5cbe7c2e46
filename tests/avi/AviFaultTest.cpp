// Failing writes (a full disk, passing errors) and releases in any order: the file that is left
// always opens and holds what was accepted.
#include <algorithm>

#include "AviTestSupport.h"
#include "TempDir.h"
#include "base/Refusal.h"
#include "support/Opened.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

// A file on a disk that holds `capacity` bytes: a write that would grow the file past that puts
// down what fits and fails. With `failFrom`/`failTo`, the write calls numbered in that range
// fail as well, after putting down half of their bytes, like passing I/O errors.
class FaultySink final : public ByteSink {
 public:
  FaultySink(const std::string& path, uint64_t capacity, int failFrom = -1, int failTo = -1)
      : file_(OpenFileSink(path).valueOr(nullptr)), capacity_(capacity), failFrom_(failFrom), failTo_(failTo) {}

  Expected<void> WriteAt(uint64_t offset, std::initializer_list<Piece> pieces) override {
    std::vector<uint8_t> all;
    for (const Piece& p : pieces) {
      const auto* b = static_cast<const uint8_t*>(p.data);
      if (p.size) all.insert(all.end(), b, b + p.size);
    }
    const int call = calls_++;
    size_t fits = offset >= capacity_ ? 0 : static_cast<size_t>(std::min<uint64_t>(all.size(), capacity_ - offset));
    const bool flaky = call >= failFrom_ && call < failTo_;
    if (flaky) fits = std::min(fits, all.size() / 2);
    if (fits > 0) (void)file_->WriteAt(offset, {{all.data(), fits}});
    if (fits < all.size()) return Refusal("No space left on device");
    return {};
  }

  Expected<void> Truncate(uint64_t size) override { return file_->Truncate(size); }

 private:
  std::unique_ptr<ByteSink> file_;
  uint64_t capacity_;
  int failFrom_, failTo_;
  int calls_ = 0;
};

struct Outcome {
  std::vector<int> videoAccepted;  // frame indexes whose append returned 0
  int audioAccepted = 0;           // appends of audio that returned 0
};

Outcome WriteThrough(std::unique_ptr<ByteSink> sink, const Clip& clip, const WriterLimits& limits = {}) {
  Outcome out;
  std::shared_ptr<OutputFile> file;
  EXPECT_TRUE(zentrova::testing::Opened(file, OpenAviFile(std::move(sink), limits)));
  ClipWriter cw;
  EXPECT_EQ(cw.Open(std::move(file), clip), 0);
  for (int i = 0; i < clip.frames; ++i) {
    const int32_t before = cw.audioPosition;
    const auto picture = MakePicture(clip.width, clip.height, i);
    const std::vector<int16_t> pcm = MakeAudio(clip.audioPerFrame, out.audioAccepted);
    if (cw.audio->Write(before, clip.audioPerFrame, pcm.data(), clip.audioPerFrame * 2, 0)) {
      cw.audioPosition += clip.audioPerFrame;
      ++out.audioAccepted;
    }
    if (cw.compressed->Write(i, 1, picture.data(), static_cast<int32_t>(picture.size()), kKeyFrame))
      out.videoAccepted.push_back(i);
  }
  cw.Release();
  return out;
}

uint32_t HeaderLength(const std::string& path, int stream) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  const auto strh = Find(ListRiffChunks(bytes), "AVI /hdrl/strl/strh");
  return strh.size() > static_cast<size_t>(stream) ? Le32(&bytes[strh[stream].data + 32]) : 0;
}

// What is left opens in ffmpeg, its headers match the file, and the frames and samples at its
// start are the ones handed over there. `pictures` is the number of pictures ffmpeg finds (a
// dropped frame, an empty chunk that holds the picture before it, is no picture of its own).
void ExpectIntactPrefix(const std::string& path, const Clip& clip, uint32_t* pictures, uint32_t* samples) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_LE(Le32(&bytes[4]) + uint64_t{8}, bytes.size());
  *samples = HeaderLength(path, 1);
  EXPECT_EQ(StreamCount(path), 2);
  *pictures = static_cast<uint32_t>(std::stoul("0" + ProbeStream(path, 0)["nb_read_packets"]));
  EXPECT_LE(*pictures, HeaderLength(path, 0));
  const std::string video = Decode(path, "-map 0:v -frames:v " + std::to_string(*pictures) + " -f rawvideo -pix_fmt bgr24");
  const size_t frameBytes = static_cast<size_t>(clip.width) * clip.height * 3;
  ASSERT_EQ(video.size(), frameBytes * *pictures);
  for (size_t i = 0; i < *pictures; ++i) {
    const auto expected = Flip(MakePicture(clip.width, clip.height, static_cast<int>(i)), clip.width, clip.height);
    EXPECT_EQ(0, std::memcmp(video.data() + i * frameBytes, expected.data(), frameBytes)) << "frame " << i;
  }
  const std::string audio = Decode(path, "-map 0:a -f s16le");
  EXPECT_EQ(audio.size(), size_t{*samples} * 2);
}

TEST(AviFaults, AFullDiskKeepsWhatWasWrittenBeforeIt) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string path = dir.file("full.avi");
  Clip clip;
  clip.frames = 30;
  const uint64_t capacity = 20 * (57600 + 640 + 16) + 9000;  // room for about 20 frames
  const Outcome out = WriteThrough(std::make_unique<FaultySink>(path, capacity), clip);
  ASSERT_LT(out.videoAccepted.size(), 30u);
  ASSERT_GT(out.videoAccepted.size(), 15u);
  uint32_t frames = 0, samples = 0;
  ExpectIntactPrefix(path, clip, &frames, &samples);
  // The indexes take the room of a few of the last frames.
  EXPECT_LE(frames, out.videoAccepted.size());
  EXPECT_GE(frames + 4, out.videoAccepted.size());
  EXPECT_LE(samples, static_cast<uint32_t>(out.audioAccepted * clip.audioPerFrame));
}

TEST(AviFaults, PassingWriteErrorsDropThoseAppendsOnly) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string path = dir.file("flaky.avi");
  Clip clip;
  clip.frames = 20;
  const Outcome out = WriteThrough(std::make_unique<FaultySink>(path, UINT64_MAX, 10, 14), clip);
  EXPECT_EQ(out.videoAccepted.size() + out.audioAccepted, 40u - 4u);
  // Dropped pictures are held by the frames after them: the video keeps its length and time.
  EXPECT_EQ(HeaderLength(path, 0), 20u);
  EXPECT_EQ(ProbeStream(path, 0)["nb_read_packets"], std::to_string(out.videoAccepted.size()));
  EXPECT_EQ(HeaderLength(path, 1), static_cast<uint32_t>(out.audioAccepted * clip.audioPerFrame));
}

TEST(AviFaults, AFullDiskInAContinuationSegmentStillGivesAWholeFile) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string path = dir.file("full-odml.avi");
  Clip clip;
  clip.frames = 40;
  const uint64_t capacity = 30 * (57600 + 640 + 16);
  const Outcome out =
      WriteThrough(std::make_unique<FaultySink>(path, capacity), clip, WriterLimits{256 * 1024, 16});
  uint32_t frames = 0, samples = 0;
  ExpectIntactPrefix(path, clip, &frames, &samples);
  EXPECT_GT(frames, 20u);
  EXPECT_LE(frames, out.videoAccepted.size());
  const std::vector<uint8_t> bytes = ReadFile(path);
  const auto dmlh = Find(ListRiffChunks(bytes), "AVI /hdrl/odml/dmlh");
  ASSERT_EQ(dmlh.size(), 1u);
  EXPECT_EQ(Le32(&bytes[dmlh[0].data]), HeaderLength(path, 0));
}

TEST(AviFaults, TheFileIsCompletedByTheLastReleaseWhateverItsOrder) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (const std::string codec : {"raw", "h264"}) {
    if (codec == "h264" && !ListCompressors()[3].available) continue;
    const std::string path = dir.file(codec + ".avi");
    Clip clip;
    clip.codec = codec;
    clip.frames = 8;
    std::shared_ptr<OutputFile> file;
    ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(path)));
    ClipWriter cw;
    ASSERT_EQ(cw.Open(std::move(file), clip), 0);
    for (int i = 0; i < clip.frames; ++i) ASSERT_EQ(cw.WriteFrame(clip, i), 0);
    // The file and the audio go first; the compressed stream, still holding frames in its
    // encoder, outlives them all.
    cw.file.reset();
    cw.audio.reset();
    cw.video.reset();
    EXPECT_EQ(HeaderLength(path, 0), 0u) << codec << ": not complete while a stream is held";
    cw.compressed.reset();
    EXPECT_EQ(HeaderLength(path, 0), 8u) << codec;
    EXPECT_EQ(ProbeStream(path, 0)["nb_read_packets"], "8") << codec;
  }
}

}  // namespace
}  // namespace zentrova::avi
