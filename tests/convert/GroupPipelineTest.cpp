// Groups decoded side by side, driven directly: with any window down to the smallest and any
// number of workers, every frame reaches the writer once, in order, as one decoder made it, and
// the run ends; a stop from the writer and a failure of the reading end it too.
#include "convert/GroupPipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "audio/G726Decoder.h"
#include "recording/ZrFormat.h"
#include "zrgen/TestPattern.h"
#include "zrgen/VideoEncoder.h"

namespace zentrova {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kWidth = 176;
constexpr int32_t kHeight = 144;

// Short groups (an intra picture every 5), a frame without a picture and one whose picture is
// broken off, so that groups begin often and some frames repeat the one before them.
std::vector<Bytes> Pictures() {
  zrgen::EncoderSettings settings;
  settings.codedWidth = kWidth;
  settings.codedHeight = kHeight;
  settings.intraPeriod = 5;
  settings.idct = IdctChoice::Plain;
  zrgen::VideoEncoder encoder;
  EXPECT_TRUE(encoder.Initialise(settings));
  std::vector<Bytes> pictures;
  for (int i = 0; i < 41; ++i) pictures.push_back(encoder.Encode(zrgen::TestPattern(kWidth, kHeight, 3 * i)).bytes);
  pictures[12].clear();
  pictures[23].resize(pictures[23].size() / 2);
  return pictures;
}

FrameRecord RecordOf(Bytes& bytes) {
  FrameRecord r;
  r.flags = bytes.empty() ? FlagNoPicture : 0;
  r.videoBytes = static_cast<uint32_t>(bytes.size());
  r.videoData = bytes.empty() ? nullptr : bytes.data();
  return r;
}

// Hands the pictures out one by one, as the recording's reader does.
struct Reading {
  explicit Reading(std::vector<Bytes>& all) : pictures(all) {}

  std::vector<Bytes>& pictures;
  size_t fetched = 0;
  FrameRecord record;

  GroupPipeline::Fetch Fetch() {
    return [this]() -> const FrameRecord* {
      if (fetched == pictures.size()) return nullptr;
      record = RecordOf(pictures[fetched++]);
      return &record;
    };
  }
};

GroupPipelineSettings SettingsFor(unsigned workers, size_t window) {
  GroupPipelineSettings s;
  s.workers = workers;
  s.window = window;
  s.width = kWidth;
  s.height = kHeight;
  s.stamp = 0x20020114;
  s.idct = IdctChoice::Plain;
  return s;
}

// What one decoder shows for each frame, as the one-thread loop decodes it.
std::vector<FrameWork> OneDecoder(std::vector<Bytes>& pictures) {
  VideoDecoder video;
  EXPECT_TRUE(video.Initialise(0x20020114, IdctChoice::Plain).ok());
  G726Decoder audio;
  std::vector<FrameWork> frames(pictures.size());
  bool referenceGood = true;
  for (size_t i = 0; i < pictures.size(); ++i) {
    frames[i].Allocate(kWidth, kHeight);
    DecodeFrameWork(RecordOf(pictures[i]), video, audio, true, kWidth, kHeight, i > 0 ? &frames[i - 1] : nullptr,
                    referenceGood, frames[i]);
  }
  return frames;
}

bool SamePicture(const FrameWork& a, const FrameWork& b) {
  if (a.black != b.black || a.damaged != b.damaged || a.width != b.width || a.height != b.height) return false;
  const size_t luma = static_cast<size_t>(a.width) * static_cast<size_t>(a.height);
  return std::equal(a.y.begin(), a.y.begin() + luma, b.y.begin()) &&
         std::equal(a.cb.begin(), a.cb.begin() + luma / 4, b.cb.begin()) &&
         std::equal(a.cr.begin(), a.cr.begin() + luma / 4, b.cr.begin());
}

// Runs the pipeline and checks that every frame reaches the writer once, in order, as one decoder
// made it; `beforeWrite`, when given, runs first for each frame (with its index).
void ExpectEveryFrameInOrder(const GroupPipelineSettings& settings, const GroupPipeline::Fetch& fetch,
                             const std::vector<FrameWork>& expected, const std::string& what,
                             const std::function<void(size_t)>& beforeWrite = {}) {
  size_t written = 0;
  const GroupPipeline::Write write = [&](FrameWork& frame) {
    if (written == expected.size()) {
      ADD_FAILURE() << what << ": more frames than the recording has";
      return false;
    }
    if (beforeWrite) beforeWrite(written);
    EXPECT_TRUE(SamePicture(frame, expected[written])) << what << ": frame " << written;
    ++written;
    return true;
  };
  G726Decoder audio;
  EXPECT_TRUE(GroupPipeline(settings).Run(fetch, audio, write)) << what;
  EXPECT_EQ(written, expected.size()) << what;
}

TEST(GroupPipeline, EveryFrameReachesTheWriterInOrderAsOneDecoderMadeItWhateverTheWindowAndWorkers) {
  std::vector<Bytes> pictures = Pictures();
  const std::vector<FrameWork> expected = OneDecoder(pictures);
  ASSERT_TRUE(expected[23].damaged);
  for (const unsigned workers : {1u, 2u, 3u, 8u}) {
    for (const size_t window : {size_t{2}, size_t{3}, size_t{4}, size_t{7}, size_t{16}, size_t{64}}) {
      const std::string what = std::to_string(workers) + " workers, a window of " + std::to_string(window);
      Reading reading(pictures);
      ExpectEveryFrameInOrder(SettingsFor(workers, window), reading.Fetch(), expected, what);
    }
  }
}

// Frames that wait as 24-bit pictures, made by the workers: each is the picture the writer would
// make of one decoder's frame, the damaged and repeated ones too.
TEST(GroupPipeline, PicturesMadeByTheWorkersAreThoseTheWriterWouldMake) {
  std::vector<Bytes> pictures = Pictures();
  const std::vector<FrameWork> expected = OneDecoder(pictures);
  std::vector<uint8_t> scratch;
  for (const unsigned workers : {2u, 3u}) {
    for (const size_t window : {size_t{2}, size_t{7}, size_t{64}}) {
      const std::string what = std::to_string(workers) + " workers, a window of " + std::to_string(window);
      Reading reading(pictures);
      const GroupPipeline::Fetch fetch = reading.Fetch();
      size_t written = 0;
      std::vector<uint8_t> picture(static_cast<size_t>(kWidth) * kHeight * 3);
      const GroupPipeline::Write write = [&](FrameWork& frame) {
        const FrameWork& one = expected[written];
        PictureOf(one, kWidth, kHeight, kHeight, picture.data(), scratch);
        EXPECT_TRUE(frame.coloured && frame.pictureBytes == picture.size() && frame.damaged == one.damaged &&
                    frame.black == one.black && std::equal(picture.begin(), picture.end(), frame.Picture()))
            << what << ": frame " << written;
        ++written;
        return true;
      };
      GroupPipelineSettings settings = SettingsFor(workers, window);
      settings.pictureHeight = kHeight;
      G726Decoder audio;
      EXPECT_TRUE(GroupPipeline(settings).Run(fetch, audio, write)) << what;
      EXPECT_EQ(written, pictures.size()) << what;
    }
  }
}

// A writer or a reading that now and then takes its time leaves the other threads waiting for
// room or for frames, and waking again: every frame still arrives, in order, and the run ends.
TEST(GroupPipeline, ASlowWriterOrASlowReadingOnlySlowsTheRun) {
  std::vector<Bytes> pictures = Pictures();
  const std::vector<FrameWork> expected = OneDecoder(pictures);
  for (const unsigned workers : {2u, 3u}) {
    for (const size_t window : {size_t{2}, size_t{7}, size_t{16}}) {
      for (const bool slowWriter : {false, true}) {
        const std::string what = std::to_string(workers) + " workers, a window of " + std::to_string(window) +
                                 (slowWriter ? ", a slow writer" : ", a slow reading");
        size_t fetched = 0;
        FrameRecord record;
        const GroupPipeline::Fetch fetch = [&]() -> const FrameRecord* {
          if (fetched == pictures.size()) return nullptr;
          if (!slowWriter && fetched % 6 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
          record = RecordOf(pictures[fetched++]);
          return &record;
        };
        ExpectEveryFrameInOrder(SettingsFor(workers, window), fetch, expected, what, [&](size_t written) {
          if (slowWriter && written % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
      }
    }
  }
}

TEST(GroupPipeline, AStopFromTheWriterAndAFailureOfTheReadingEndTheRun) {
  std::vector<Bytes> pictures = Pictures();
  for (const unsigned workers : {2u, 3u}) {
    size_t fetched = 0;
    FrameRecord record;
    const GroupPipeline::Fetch fetch = [&]() -> const FrameRecord* {
      if (fetched == pictures.size()) return nullptr;
      record = RecordOf(pictures[fetched++]);
      return &record;
    };
    size_t written = 0;
    G726Decoder audio;
    EXPECT_TRUE(GroupPipeline(SettingsFor(workers, 4)).Run(fetch, audio, [&](FrameWork&) { return ++written < 10; }));
    EXPECT_EQ(written, 10u);

    fetched = 0;
    const GroupPipeline::Fetch failing = [&]() -> const FrameRecord* {
      if (fetched == 20) throw std::runtime_error("the recording could not be read");
      record = RecordOf(pictures[fetched++]);
      return &record;
    };
    written = 0;
    EXPECT_THROW(GroupPipeline(SettingsFor(workers, 4)).Run(failing, audio, [&](FrameWork&) { return ++written > 0; }),
                 std::runtime_error);
    EXPECT_LE(written, 20u);
  }
}

}  // namespace
}  // namespace zentrova
