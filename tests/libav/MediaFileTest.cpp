// The Matroska and MP4 writers of the libav module on their own, read back by ffprobe and ffmpeg:
// a disk that fills, a file cut off while it is written, a whole one, and samples out of place.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "avi/AviTestSupport.h"
#include "base/Refusal.h"
#include "avi/ByteSink.h"
#include "container/ContainerFile.h"
#include "support/ConversionTestSupport.h"
#include "support/Opened.h"

namespace zentrova {
namespace {

using avi::testing::RunCommand;
using container::Format;
using testing::EndOf;
using testing::Probe;
using testing::TempDir;

// A disk that fills after `capacity` bytes.
class FullDisk final : public avi::ByteSink {
 public:
  FullDisk(const std::string& path, uint64_t capacity) : file_(avi::OpenFileSink(path).valueOr(nullptr)), capacity_(capacity) {}
  Expected<void> WriteAt(uint64_t offset, std::initializer_list<avi::Piece> pieces) override {
    for (const avi::Piece& p : pieces) {
      if (offset + p.size > capacity_) return Refusal("No space left on device");
      if (auto written = file_->WriteAt(offset, {p}); !written) return written;
      offset += p.size;
    }
    return {};
  }
  Expected<void> Truncate(uint64_t size) override { return file_->Truncate(size); }

 private:
  std::unique_ptr<avi::ByteSink> file_;
  uint64_t capacity_;
};

// Pictures ffmpeg decodes from a file (0 when it opens none).
int DecodedFrames(const std::string& path) {
  const std::string n = Probe(path, "stream=nb_read_frames");
  return n.empty() ? 0 : std::atoi(n.c_str());
}

TEST(MediaFile, AFullDiskLeavesAPlayableFileHoldingTheFramesItCounts) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (Format format : {Format::Matroska, Format::Mp4}) {
    for (uint64_t capacity : {uint64_t{0}, uint64_t{100}, uint64_t{5000}, uint64_t{60000}, uint64_t{1} << 24}) {
      std::shared_ptr<OutputFile> file;
      const std::string path = dir.file("full." + std::string(container::FormatName(format)));
      ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(format, std::make_unique<FullDisk>(path, capacity))));
      avi::testing::ClipWriter w;
      avi::testing::Clip clip;
      clip.codec = "mpeg4";
      clip.frames = 100;  // 4 s: pieces of the file are counted about once a second
      ASSERT_EQ(w.Open(file, clip), 0);
      int refused = 0;
      for (int i = 0; i < clip.frames; ++i) refused += w.WriteFrame(clip, i) != 0;
      w.Release();
      const Completion done = file->Complete();
      file.reset();
      const std::string what = std::string(container::FormatName(format)) + " on " + std::to_string(capacity);
      EXPECT_LE(std::filesystem::file_size(path), capacity) << what;
      if (capacity < 5000) {
        EXPECT_NE(done.error, 0) << what;
      }
      if (done.error == 0) {
        EXPECT_EQ(refused, 0) << what;
        EXPECT_EQ(done.videoFrames, 100u) << what;
      } else {
        EXPECT_LT(done.videoFrames, 100u) << what;
      }
      // What the file says it holds is what a player gets from it, no more.
      if (done.videoFrames > 0) {
        EXPECT_EQ(DecodedFrames(path), static_cast<int>(done.videoFrames)) << what;
      }
    }
  }
  // Nothing was kept anywhere else.
  size_t left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left += entry.path().filename() != "full.mkv" &&
                                                                                   entry.path().filename() != "full.mp4";
  EXPECT_EQ(left, 0u);
}

TEST(MediaFile, AFileCutOffMidwayPlaysUpToAboutItsLastSecond) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (Format format : {Format::Matroska, Format::Mp4}) {
    const std::string path = dir.file("live." + std::string(container::FormatName(format)));
    std::shared_ptr<OutputFile> file;
    ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(format, avi::OpenFileSink(path).valueOr(nullptr))));
    avi::testing::ClipWriter w;
    avi::testing::Clip clip;
    clip.codec = "mpeg4";
    clip.frames = 150;
    ASSERT_EQ(w.Open(file, clip), 0);
    for (int i = 0; i < clip.frames; ++i) ASSERT_EQ(w.WriteFrame(clip, i), 0);
    // What stands on the disk now is what a kill would leave.
    const std::string killed = dir.file("killed." + std::string(container::FormatName(format)));
    std::filesystem::copy_file(path, killed);
    w.Release();
    ASSERT_EQ(file->Complete().error, 0);
    file.reset();
    const int frames = DecodedFrames(killed);
    EXPECT_GE(frames, 150 - 2 * 25) << container::FormatName(format);
    EXPECT_LT(frames, 150) << container::FormatName(format);
    EXPECT_EQ(DecodedFrames(path), 150);
    EXPECT_GT(EndOf(killed, "a:0").packets, 0) << container::FormatName(format);
  }
}

TEST(MediaFile, AFileWrittenWholeCountsItsFramesAndFlagsItsTracksDefault) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (Format format : {Format::Matroska, Format::Mp4}) {
    const std::string path = dir.file("whole." + std::string(container::FormatName(format)));
    std::shared_ptr<OutputFile> file;
    auto sink = avi::OpenFileSink(path);
    ASSERT_TRUE(sink) << sink.reason();
    ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(format, std::move(*sink))));
    avi::testing::ClipWriter w;
    avi::testing::Clip clip;
    clip.codec = "mpeg4";
    clip.frames = 30;
    ASSERT_EQ(w.Open(file, clip), 0);
    for (int i = 0; i < clip.frames; ++i) EXPECT_EQ(w.WriteFrame(clip, i), 0);
    w.Release();
    const Completion done = file->Complete();
    file.reset();
    EXPECT_EQ(done.error, 0);
    EXPECT_EQ(done.videoFrames, 30u);
    // Players pick a track flagged default when they choose one themselves.
    const std::string flags =
        RunCommand("ffprobe -v error -show_entries stream_disposition=default -of csv=p=0 '" + path + "'");
    EXPECT_EQ(flags, "1\n1\n") << container::FormatName(format);
  }
}

TEST(MediaFile, SamplesAreRefusedAtAnEarlierPositionOrPastAGapTooLong) {
  TempDir dir;
  std::shared_ptr<OutputFile> file;
  auto sink = avi::OpenFileSink(dir.file("g.mkv"));
  ASSERT_TRUE(sink) << sink.reason();
  ASSERT_TRUE(testing::Opened(file, container::OpenMediaFile(Format::Matroska, std::move(*sink))));
  avi::testing::ClipWriter w;
  avi::testing::Clip clip;
  clip.codec = "ffv1";  // Matroska takes no raw pictures
  ASSERT_EQ(w.Open(file, clip), 0);
  EXPECT_TRUE(file->SetTags({}));
  ASSERT_EQ(w.WriteFrame(clip, 0), 0);
  EXPECT_FALSE(file->SetTags({}));  // fixed once samples are in
  const std::vector<uint8_t> picture(size_t{160} * 120 * 3, 7);
  const auto bytes = static_cast<int32_t>(picture.size());
  EXPECT_FALSE(w.compressed->Write(0, 1, picture.data(), bytes, kKeyFrame));
  EXPECT_FALSE(w.compressed->Write(70000, 1, picture.data(), bytes, kKeyFrame));
  EXPECT_TRUE(w.compressed->Write(5, 1, picture.data(), bytes, kKeyFrame));
  const std::vector<int16_t> pcm(100, 1);
  EXPECT_FALSE(w.audio->Write(320, 100, pcm.data(), 199, 0));  // not whole samples
  EXPECT_TRUE(w.audio->Write(1000, 100, pcm.data(), 200, 0));   // a gap of silence
  EXPECT_FALSE(w.audio->Write(0, 100, pcm.data(), 200, 0));
  w.Release();
  file.reset();
  SKIP_WITHOUT_FFMPEG();
  EXPECT_EQ(avi::testing::Decode(dir.file("g.mkv"), "-map 0:a -f s16le").size(), size_t{1100} * 2);
  EXPECT_EQ(EndOf(dir.file("g.mkv"), "v:0").packets, 2);
  EXPECT_NEAR(EndOf(dir.file("g.mkv"), "v:0").end, 6 / 25.0, 0.002);  // frame 5 keeps its time
}

}  // namespace
}  // namespace zentrova
