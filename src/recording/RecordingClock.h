#pragma once
// The recording's clock: a wall-clock time for every frame.
//
// The recorder counts milliseconds in a 32-bit tick counter and stamps it into the file header
// when the file is created (createTick) and into every block as the block begins (blockTick). A
// block therefore begins at startTime + (blockTick - createTick), the difference taken modulo
// 2^32 so that a counter that wrapped during the recording still counts on. Inside a block the
// frames follow one another by their sound (8000 samples a second), or, for a frame without
// sound, by the recording's usual frame interval. A frame never reaches into the next block's
// time, so times always rise, and a pause of the recorder shows as a gap between two blocks.
//
// Where the ticks cannot be trusted (all alike, going backwards, beyond the recording's end, or
// no blocks indexed at all) the frames are spread evenly between startTime and endTime, and
// fallbackReason() says why.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zentrova {

// Milliseconds since 1970-01-01 00:00:00 UTC.
using ClockMs = int64_t;

// A pause of the recorder: from the end of the last frame before it (its time plus its
// duration) to the first frame after it.
struct ClockGap {
  uint32_t frameAfter = 0;  // the first frame after the pause
  ClockMs from = 0;
  ClockMs to = 0;
  ClockMs length() const { return to - from; }
};

class RecordingClock {
 public:
  struct Header {
    int32_t startTime = 0;  // seconds since 1970, UTC
    int32_t endTime = 0;
    uint32_t createTick = 0;
    int32_t utcOffsetHours = 0;  // as the file stores it: 0..23, hours east of UTC modulo 24
  };
  struct Block {
    uint32_t tick = 0;
    uint32_t frames = 0;
    uint32_t firstFrame = 0;
  };
  // The 8 kHz samples of each frame of a block (0 for a frame without sound); false when the
  // block cannot be read. Frames it does not deliver are placed by the frame interval.
  using BlockSound = std::function<bool(uint32_t block, std::vector<uint32_t>& samples)>;

  // `offsetMs` corrects a recorder whose clock was known to be wrong: every time moves by it.
  RecordingClock(const Header& header, std::vector<Block> blocks, uint32_t frameCount, BlockSound sound,
                 int64_t offsetMs = 0);

  uint32_t frameCount() const { return frameCount_; }
  // Empty when the frames are placed by the ticks; else why they are spread evenly instead.
  const std::string& fallbackReason() const { return fallback_; }
  bool fromTicks() const { return fallback_.empty(); }
  // The recorder's local time is UTC plus this many hours (-10..+14; the file's 0..23 taken so).
  int32_t utcOffsetHours() const { return utcOffsetHours_; }
  int64_t offsetMs() const { return offsetMs_; }
  // The usual time from one frame to the next, in milliseconds (at least 1).
  int64_t frameInterval() const { return interval_; }

  // Frames out of range are placed as if the recording went on.
  ClockMs FrameTime(uint32_t frame);
  // How long the frame is shown: until the next frame, or for the last frame of a block by its
  // sound or the frame interval (so a pause is not counted as the frame's).
  ClockMs FrameDuration(uint32_t frame);
  ClockMs start() { return FrameTime(0); }
  // Just past the last frame.
  ClockMs end();
  // The first frame whose time is at or after `t`; frameCount() when none is.
  uint32_t FirstFrameAtOrAfter(ClockMs t);
  // The pauses longer than a second (and than two frame intervals), in order.
  std::vector<ClockGap> Gaps();

 private:
  struct BlockTimes {
    std::vector<ClockMs> times;
    ClockMs lastDuration = 0;  // of the block's last frame
  };
  void CheckTicks();
  uint32_t BlockOf(uint32_t frame) const;
  const BlockTimes& TimesOfBlock(uint32_t block);
  ClockMs BlockStart(uint32_t block) const;
  ClockMs EvenTime(uint32_t frame) const;

  Header header_;
  std::vector<Block> blocks_;  // those with frames, in order
  std::vector<uint32_t> chainIndex_;  // where each of them stands in the chain
  std::vector<int64_t> relative_;  // each block's start in ms after startTime
  uint32_t frameCount_;
  BlockSound sound_;
  int64_t offsetMs_;
  int32_t utcOffsetHours_ = 0;
  int64_t interval_ = 40;
  std::string fallback_;
  std::vector<BlockTimes> times_;  // per block, filled when first asked for
};

}  // namespace zentrova
