// MPEG-4 Part 2 and Motion JPEG coded in lanes: key-frame intervals of one second coded side by
// side, the packets handed to the file in frame order, the same bytes on one thread and on two,
// and a refused packet ending the stream with the frames before it kept.
#include <cstring>
#include <vector>

#include "avi/AviTestSupport.h"

namespace zentrova::avi {
namespace {

using namespace avi::testing;

// The file end of a compressed stream: what it is handed, in order, refusing from a given write
// on. `before` calls of a deferring stream are recorded in the same sequence (as -1 - position).
class RecordingStream final : public OutputStream {
 public:
  explicit RecordingStream(StreamInfo info, int refuseFrom = -1) : info_(info), refuseFrom_(refuseFrom) {}
  Expected<void> SetFormat(int32_t, const void*, int32_t) override { return {}; }
  Expected<void> Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags) override {
    if (refuseFrom_ >= 0 && static_cast<int>(packets.size()) >= refuseFrom_) return Failure("refused as asked");
    const auto* p = static_cast<const uint8_t*>(data);
    packets.push_back({start, samples, (flags & kKeyFrame) != 0, std::vector<uint8_t>(p, p + bytes)});
    events.push_back(start);
    return {};
  }
  StreamInfo Info() const override { return info_; }

  struct Packet {
    int32_t start;
    int32_t samples;
    bool key;
    std::vector<uint8_t> bytes;
  };
  std::vector<Packet> packets;
  std::vector<int32_t> events;

 private:
  StreamInfo info_;
  int refuseFrom_;
};

struct Coded {
  std::vector<RecordingStream::Packet> packets;
  std::vector<int32_t> events;
  int failedAt = -1;  // the first frame whose write failed
  bool flushed = false;  // every picture held was handed on
};

// `frames` pictures of 176 x 144 at 25 fps through the codec, as 24-bit pictures or as planes.
Coded Code(const std::string& codec, unsigned threads, int frames, bool planes, int refuseFrom = -1,
           bool hold = false) {
  auto file = std::make_shared<RecordingStream>(VideoInfo(176, 144, 25), refuseFrom);
  Coded out;
  {
    CompressOptions options{codec, 90};
    options.threads = threads;
    std::shared_ptr<OutputStream> compressed = MakeCompressedStream(file, options).valueOr(nullptr);
    EXPECT_TRUE(compressed);
    BitmapInfoHeader bih;
    bih.biWidth = 176;
    bih.biHeight = 144;
    EXPECT_TRUE(compressed->SetFormat(0, &bih, sizeof bih));
    if (hold) {
      EXPECT_TRUE(compressed->DeferWrites([&](int32_t position) {
        file->events.push_back(-1 - position);
        return true;
      }));
    }
    std::vector<uint8_t> y(176 * 144), cb(88 * 72), cr(88 * 72);
    for (int f = 0; f < frames; ++f) {
      Expected<void> status;
      if (planes) {
        for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(i * 7 + f * 3);
        std::memset(cb.data(), 100 + f % 50, cb.size());
        std::memset(cr.data(), 150 - f % 50, cr.size());
        PlanarPicture p;
        p.plane[0] = y.data();
        p.plane[1] = cb.data();
        p.plane[2] = cr.data();
        p.stride[0] = 176;
        p.stride[1] = p.stride[2] = 88;
        p.width = 176;
        p.rows = 144;
        status = PlanarInputOf(compressed.get())->WritePlanes(f, p, kKeyFrame);
      } else {
        const auto picture = MakePicture(176, 144, f);
        status = compressed->Write(f, 1, picture.data(), static_cast<int32_t>(picture.size()), kKeyFrame);
      }
      if (!status) {
        out.failedAt = f;
        break;
      }
    }
    out.flushed = compressed->Flush().ok();
  }
  out.packets = file->packets;
  out.events = file->events;
  return out;
}

TEST(EncoderLanes, PacketsReachTheFileInFrameOrderWithAKeyFrameEverySecond) {
  for (const std::string codec : {"mpeg4", "mjpeg"}) {
    for (const bool planes : {false, true}) {
      const Coded c = Code(codec, 2, 80, planes);
      EXPECT_EQ(c.failedAt, -1);
      EXPECT_TRUE(c.flushed);
      ASSERT_EQ(c.packets.size(), 80u) << codec;
      for (int f = 0; f < 80; ++f) {
        EXPECT_EQ(c.packets[f].start, f) << codec;
        const bool key = codec == "mjpeg" || f % 25 == 0;
        EXPECT_EQ(c.packets[f].key, key) << codec << " frame " << f;
      }
    }
  }
}

TEST(EncoderLanes, OneThreadAndSeveralCodeTheSameBytes) {
  for (const std::string codec : {"mpeg4", "mjpeg", "h264"}) {
    bool available = false;
    for (const CompressorInfo& c : ListCompressors()) available |= c.name == codec && c.available;
    if (!available) continue;
    const Coded one = Code(codec, 1, 90, true);
    for (const unsigned threads : {2u, 3u, 8u}) {
      const Coded more = Code(codec, threads, 90, true);
      ASSERT_EQ(more.packets.size(), one.packets.size()) << codec << " " << threads;
      for (size_t f = 0; f < one.packets.size(); ++f)
        EXPECT_EQ(more.packets[f].bytes, one.packets[f].bytes) << codec << " " << threads << " frame " << f;
    }
  }
}

// The stream's own caller writes a frame's sound in `before`: it must come just before that
// frame's picture, and the pictures still in the lanes must all come out at Flush.
TEST(EncoderLanes, WhatWaitsForAPictureGoesJustBeforeIt) {
  for (const unsigned threads : {1u, 2u}) {
    const Coded c = Code("mpeg4", threads, 60, true, -1, true);
    ASSERT_EQ(c.events.size(), 120u) << threads;
    for (int f = 0; f < 60; ++f) {
      EXPECT_EQ(c.events[2 * f], -1 - f) << threads;
      EXPECT_EQ(c.events[2 * f + 1], f) << threads;
    }
  }
}

TEST(EncoderLanes, ARefusedPacketEndsTheStreamAndKeepsTheFramesBefore) {
  for (const unsigned threads : {1u, 2u}) {
    const Coded c = Code("mpeg4", threads, 100, true, 30);
    // On one thread the refused frame's own write fails; with lanes the refusal is seen some
    // frames later, at the latest when the stream is flushed.
    if (threads == 1) {
      EXPECT_EQ(c.failedAt, 30);
    } else {
      EXPECT_TRUE(c.failedAt == -1 || c.failedAt >= 30) << c.failedAt;
    }
    EXPECT_FALSE(c.flushed) << threads;
    ASSERT_EQ(c.packets.size(), 30u) << threads;
    for (int f = 0; f < 30; ++f) EXPECT_EQ(c.packets[f].start, f);
  }
}

}  // namespace
}  // namespace zentrova::avi
