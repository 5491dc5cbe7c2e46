// Files written through the layer, read by an independent reader (ffprobe and ffmpeg): stream
// order, codec, size, frame and sample counts, and the pictures themselves.
#include <cmath>
#include <filesystem>

#include "AviTestSupport.h"
#include "TempDir.h"
#include "support/Opened.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;
using zentrova::testing::TempDir;

struct Expected {
  const char* codec;       // our name
  const char* ffmpegName;  // ffprobe's codec_name
  const char* tag;         // codec_tag_string
  double maxMeanError;     // mean absolute difference per byte of the decoded pictures
};

void PrintTo(const Expected& e, std::ostream* os) { *os << e.codec; }

class EveryCompressor : public ::testing::TestWithParam<Expected> {};

bool Available(const std::string& name) {
  for (const CompressorInfo& c : ListCompressors())
    if (c.name == name) return c.available;
  return false;
}

double MeanError(const uint8_t* a, const uint8_t* b, size_t n) {
  uint64_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += static_cast<uint64_t>(std::abs(int{a[i]} - int{b[i]}));
  return static_cast<double>(sum) / static_cast<double>(n);
}

TEST_P(EveryCompressor, FfmpegReadsTheStreamsAndUprightPictures) {
  SKIP_WITHOUT_FFMPEG();
  const Expected e = GetParam();
  if (!Available(e.codec)) GTEST_SKIP() << e.codec << " is not available here";
  TempDir dir;
  const std::string path = dir.file("clip.avi");
  Clip clip;
  clip.codec = e.codec;
  clip.width = 176;
  clip.height = 144;
  clip.frames = 12;
  WriteClip(path, clip);

  EXPECT_EQ(StreamCount(path), 2);
  auto v = ProbeStream(path, 0);
  EXPECT_EQ(v["codec_type"], "video");
  EXPECT_EQ(v["codec_name"], e.ffmpegName);
  EXPECT_EQ(v["codec_tag_string"], e.tag);
  EXPECT_EQ(v["width"], "176");
  EXPECT_EQ(v["height"], "144");
  EXPECT_EQ(v["nb_read_packets"], "12");
  EXPECT_EQ(v["r_frame_rate"], "25/1");
  auto a = ProbeStream(path, 1);
  EXPECT_EQ(a["codec_type"], "audio");
  EXPECT_EQ(a["codec_name"], "pcm_s16le");
  EXPECT_EQ(a["sample_rate"], "8000");
  EXPECT_EQ(a["channels"], "1");

  // The audio comes back sample for sample.
  const std::string audio = Decode(path, "-map 0:a -f s16le");
  ASSERT_EQ(audio.size(), size_t{12} * 320 * 2);
  for (int i = 0; i < 12; ++i) {
    const auto pcm = MakeAudio(320, i);
    EXPECT_EQ(0, std::memcmp(audio.data() + i * 640, pcm.data(), 640)) << "audio of frame " << i;
  }

  // Pictures in display order: the bottom-up rows handed over, upside down.
  const std::string video = Decode(path, "-map 0:v -f rawvideo -pix_fmt bgr24");
  const size_t frameBytes = size_t{176} * 144 * 3;
  ASSERT_EQ(video.size(), 12 * frameBytes);
  for (int i = 0; i < 12; ++i) {
    const auto expected = Flip(MakePicture(176, 144, i), 176, 144);
    const auto* got = reinterpret_cast<const uint8_t*>(video.data()) + i * frameBytes;
    EXPECT_LE(MeanError(got, expected.data(), frameBytes), e.maxMeanError) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(AviPlayers, EveryCompressor,
                         ::testing::Values(Expected{"raw", "rawvideo", "[0][0][0][0]", 0.0},
                                           Expected{"mjpeg", "mjpeg", "MJPG", 4.0},
                                           Expected{"mpeg4", "mpeg4", "XVID", 4.0},
                                           Expected{"h264", "h264", "H264", 4.0},
                                           Expected{"ffv1", "ffv1", "FFV1", 0.0}),
                         [](const auto& info) { return std::string(info.param.codec); });

TEST(AviPlayers, LowerQualityGivesSmallerFiles) {
  TempDir dir;
  for (const std::string codec : {"mjpeg", "mpeg4", "h264"}) {
    if (!Available(codec)) continue;
    Clip clip;
    clip.codec = codec;
    clip.frames = 6;
    clip.quality = 100;
    WriteClip(dir.file("best.avi"), clip);
    clip.quality = 10;
    WriteClip(dir.file("small.avi"), clip);
    EXPECT_LT(std::filesystem::file_size(dir.file("small.avi")), std::filesystem::file_size(dir.file("best.avi")))
        << codec;
  }
}

TEST(AviPlayers, CompressorsRefusePicturesTheyCannotTake) {
  TempDir dir;
  for (const std::string codec : {"mjpeg", "mpeg4", "h264", "ffv1"}) {
    if (!Available(codec)) continue;
    std::shared_ptr<OutputFile> file;
    ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(dir.file(codec + ".avi"))));
    std::shared_ptr<OutputStream> video, compressed;
    video = file->CreateStream(VideoInfo(160, 120, 25)).valueOr(nullptr);
    ASSERT_TRUE(video);
    compressed = MakeCompressedStream(video, {codec, 90}).valueOr(nullptr);
    ASSERT_TRUE(compressed);
    BitmapInfoHeader bih;
    bih.biWidth = 160;
    bih.biHeight = 120;
    bih.biBitCount = 32;
    EXPECT_FALSE(compressed->SetFormat(0, &bih, sizeof bih)) << codec << ": 32-bit pictures";
    bih.biBitCount = 24;
    bih.biCompression = FourCC('M', 'J', 'P', 'G');
    EXPECT_FALSE(compressed->SetFormat(0, &bih, sizeof bih)) << codec << ": compressed pictures";
    bih.biCompression = 0;
    bih.biWidth = 100000;
    EXPECT_FALSE(compressed->SetFormat(0, &bih, sizeof bih)) << codec << ": 100000 pixels wide";
    const auto picture = MakePicture(160, 120, 0);
    EXPECT_FALSE(compressed->Write(0, 1, picture.data(), static_cast<int32_t>(picture.size()), kKeyFrame))
        << codec << ": a picture before any format";
  }
  // H.264 in 4:2:0 needs an even height.
  for (const std::string codec : {"h264"}) {
    if (!Available(codec)) continue;
    std::shared_ptr<OutputFile> file;
    ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(dir.file(codec + "-odd.avi"))));
    std::shared_ptr<OutputStream> video, compressed;
    video = file->CreateStream(VideoInfo(160, 121, 25)).valueOr(nullptr);
    ASSERT_TRUE(video);
    compressed = MakeCompressedStream(video, {codec, 90}).valueOr(nullptr);
    ASSERT_TRUE(compressed);
    BitmapInfoHeader bih;
    bih.biWidth = 160;
    bih.biHeight = 121;
    EXPECT_FALSE(compressed->SetFormat(0, &bih, sizeof bih)) << codec << ": odd height";
  }
  std::shared_ptr<OutputFile> file;
  ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(dir.file("unknown.avi"))));
  std::shared_ptr<OutputStream> video;
  video = file->CreateStream(VideoInfo(160, 120, 25)).valueOr(nullptr);
  ASSERT_TRUE(video);
  EXPECT_FALSE(MakeCompressedStream(video, {"indeo", 90}));
}

TEST(AviPlayers, ContinuationSegmentsAreReadToTheLastFrame) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string path = dir.file("segments.avi");
  Clip clip;
  clip.frames = 50;
  WriteClip(path, clip, WriterLimits{512 * 1024, 32});
  EXPECT_EQ(ProbeStream(path, 0)["nb_read_packets"], "50");
  const std::string video = Decode(path, "-map 0:v -f rawvideo -pix_fmt bgr24");
  const size_t frameBytes = size_t{160} * 120 * 3;
  ASSERT_EQ(video.size(), 50 * frameBytes);
  for (int i = 0; i < 50; ++i) {
    const auto expected = Flip(MakePicture(160, 120, i), 160, 120);
    EXPECT_EQ(0, std::memcmp(video.data() + i * frameBytes, expected.data(), frameBytes)) << "frame " << i;
  }
  EXPECT_EQ(Decode(path, "-map 0:a -f s16le").size(), size_t{50} * 320 * 2);
}

// Past the first RIFF segment with the real limits: about 1.1 GiB of uncompressed frames.
TEST(AviPlayers, AFileBeyondOneGibibyteIsReadToTheLastFrame) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string path = dir.file("large.avi");
  Clip clip;
  clip.width = 704;
  clip.height = 576;
  clip.frames = 960;
  clip.audioPerFrame = 320;
  {
    std::shared_ptr<OutputFile> file;
    ASSERT_TRUE(zentrova::testing::Opened(file, OpenAviFile(path)));
    ClipWriter cw;
    ASSERT_EQ(cw.Open(std::move(file), clip), 0);
    const auto picture = MakePicture(clip.width, clip.height, 0);
    const auto pcm = MakeAudio(clip.audioPerFrame, 0);
    for (int i = 0; i < clip.frames; ++i) {
      ASSERT_TRUE(cw.audio->Write(cw.audioPosition, 320, pcm.data(), 640, 0));
      cw.audioPosition += 320;
      ASSERT_TRUE(cw.compressed->Write(i, 1, picture.data(), static_cast<int32_t>(picture.size()), kKeyFrame));
    }
    cw.Release();
  }
  ASSERT_GT(std::filesystem::file_size(path), uint64_t{1} << 30);
  EXPECT_EQ(ProbeStream(path, 0)["nb_read_packets"], "960");
  EXPECT_EQ(ProbeStream(path, 1)["nb_read_packets"], "960");
  const std::vector<uint8_t> head = [&] {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b(64 * 1024);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
  }();
  const uint32_t riff = Le32(&head[4]);
  EXPECT_LT(riff, 1u << 30);
  std::ifstream in(path, std::ios::binary);
  in.seekg(riff + 8);
  char next[12];
  in.read(next, 12);
  EXPECT_EQ(std::string(next, 4), "RIFF");
  EXPECT_EQ(std::string(next + 8, 4), "AVIX");
  // The last frame decodes.
  const std::string last = Decode(path, "-map 0:v -ss 38.3 -frames:v 1 -f rawvideo -pix_fmt bgr24");
  EXPECT_EQ(last.size(), size_t{704} * 576 * 3);
}

}  // namespace
}  // namespace zentrova::avi
