#include "recording/RecordingClock.h"

#include <algorithm>
#include <cstddef>

namespace zentrova {
namespace {

constexpr int64_t kSamplesPerMs = 8;
// Without sound and without a duration nothing says how fast frames came: 25 a second.
constexpr int64_t kUnknownInterval = 40;
// A last block may begin a little after the end time the recorder wrote (whole seconds, written
// as it went); one that begins later than this after it is not this recording's.
constexpr int64_t kEndSlackMs = 60 * 1000;
// A recording whose end time was never written is still not believed to last more than this.
constexpr int64_t kLongestRecordingMs = int64_t{31} * 24 * 3600 * 1000;

std::string Seconds(int64_t ms) {
  const std::string whole = std::to_string(ms / 1000);
  std::string frac = std::to_string(1000 + ms % 1000).substr(1);
  return whole + "." + frac + " s";
}

}  // namespace

RecordingClock::RecordingClock(const Header& header, std::vector<Block> blocks, uint32_t frameCount, BlockSound sound,
                               int64_t offsetMs)
    : header_(header), frameCount_(frameCount), sound_(std::move(sound)), offsetMs_(offsetMs) {
  // The file keeps the offset modulo 24; east of +14 no place on earth lies, so those are west.
  int32_t h = ((header.utcOffsetHours % 24) + 24) % 24;
  utcOffsetHours_ = h > 14 ? h - 24 : h;
  for (uint32_t i = 0; i < blocks.size(); ++i) {
    if (blocks[i].frames == 0) continue;
    blocks_.push_back(blocks[i]);
    chainIndex_.push_back(i);
    // Unsigned 32-bit difference: a counter that wrapped since the file was created counts on.
    relative_.push_back(static_cast<int64_t>(static_cast<uint32_t>(blocks[i].tick - header.createTick)));
  }
  times_.resize(blocks_.size());
  CheckTicks();
}

void RecordingClock::CheckTicks() {
  const int64_t duration = (int64_t{header_.endTime} - header_.startTime) * 1000;
  auto evenInterval = [&] {
    return duration > 0 && frameCount_ > 0 ? std::max<int64_t>(1, duration / frameCount_) : kUnknownInterval;
  };
  if (blocks_.empty()) {
    fallback_ = "no block of the recording is indexed";
  } else if (blocks_.size() > 1 &&
             std::all_of(relative_.begin(), relative_.end(), [&](int64_t r) { return r == relative_[0]; })) {
    fallback_ = "its blocks carry no usable ticks (all " + std::to_string(blocks_[0].tick) + ")";
  } else {
    for (size_t k = 1; k < blocks_.size() && fallback_.empty(); ++k) {
      const int64_t step = relative_[k] - relative_[k - 1];
      if (step < 0)
        fallback_ = "the tick of the block at frame " + std::to_string(blocks_[k].firstFrame) + " goes back " +
                    Seconds(-step);
      else if (step < blocks_[k - 1].frames)
        fallback_ = "the ticks of the blocks at frames " + std::to_string(blocks_[k - 1].firstFrame) + " and " +
                    std::to_string(blocks_[k].firstFrame) + " leave less than a millisecond per frame";
    }
    const int64_t last = relative_.back();
    if (fallback_.empty() && duration > 0 && last > duration + kEndSlackMs)
      fallback_ = "the block at frame " + std::to_string(blocks_.back().firstFrame) + " would begin " +
                  Seconds(last - duration) + " after the recording's end time";
    if (fallback_.empty() && duration <= 0 && last > kLongestRecordingMs)
      fallback_ = "the block at frame " + std::to_string(blocks_.back().firstFrame) + " would begin " +
                  Seconds(last) + " after the recording's start";
  }
  if (!fallback_.empty()) {
    if (duration <= 0) fallback_ += "; its end time is not after its start time, so 25 frames a second are assumed";
    interval_ = evenInterval();
    return;
  }
  // The usual interval: the lower median over the blocks of their span per frame. A pause only
  // lengthens a span, so the lower of two middles is the usual one: of three blocks with one pause
  // between two of them, the span without it.
  std::vector<int64_t> perFrame;
  for (size_t k = 1; k < blocks_.size(); ++k)
    perFrame.push_back((relative_[k] - relative_[k - 1]) / blocks_[k - 1].frames);
  if (perFrame.empty()) {
    interval_ = evenInterval();
    return;
  }
  const auto middle = perFrame.begin() + static_cast<std::ptrdiff_t>((perFrame.size() - 1) / 2);
  std::nth_element(perFrame.begin(), middle, perFrame.end());
  interval_ = std::max<int64_t>(1, *middle);
  // Two blocks give one span, which may hold a pause: the last block's span up to the end time
  // (whole seconds, so only a rough one) tells when it is more than twice that.
  if (perFrame.size() == 1 && duration > relative_.back()) {
    const int64_t tail = (duration - relative_.back()) / blocks_.back().frames;
    if (tail > 0 && interval_ > 2 * tail) interval_ = tail;
  }
}

ClockMs RecordingClock::BlockStart(uint32_t block) const {
  return int64_t{header_.startTime} * 1000 + relative_[block] + offsetMs_;
}

ClockMs RecordingClock::EvenTime(uint32_t frame) const {
  const int64_t start = int64_t{header_.startTime} * 1000 + offsetMs_;
  const int64_t duration = (int64_t{header_.endTime} - header_.startTime) * 1000;
  if (duration <= 0 || frameCount_ == 0) return start + int64_t{frame} * kUnknownInterval;
  const __int128 at = static_cast<__int128>(frame) * duration / frameCount_;
  return start + static_cast<int64_t>(at);
}

uint32_t RecordingClock::BlockOf(uint32_t frame) const {
  auto it = std::upper_bound(blocks_.begin(), blocks_.end(), frame,
                             [](uint32_t f, const Block& b) { return f < b.firstFrame; });
  return it == blocks_.begin() ? 0 : static_cast<uint32_t>(it - blocks_.begin() - 1);
}

const RecordingClock::BlockTimes& RecordingClock::TimesOfBlock(uint32_t block) {
  BlockTimes& bt = times_[block];
  if (!bt.times.empty()) return bt;
  const uint32_t n = blocks_[block].frames;
  std::vector<uint32_t> samples;
  if (!sound_ || !sound_(chainIndex_[block], samples)) samples.clear();
  const ClockMs begin = BlockStart(block);
  const bool hasNext = block + 1 < blocks_.size();
  const ClockMs next = hasNext ? BlockStart(block + 1) : 0;
  bt.times.resize(n);
  int64_t samplesSoFar = 0, framesWithout = 0;
  auto durationOf = [&](uint32_t i) {
    return i < samples.size() && samples[i] > 0 ? int64_t{samples[i]} / kSamplesPerMs : interval_;
  };
  for (uint32_t i = 0; i < n; ++i) {
    ClockMs t = begin + samplesSoFar / kSamplesPerMs + framesWithout * interval_;
    // Sound that runs longer than the ticks allow is cut so that every frame keeps at least a
    // millisecond before the next block.
    if (hasNext) t = std::min(t, next - static_cast<int64_t>(n - i));
    bt.times[i] = t;
    if (i < samples.size() && samples[i] > 0)
      samplesSoFar += samples[i];
    else
      ++framesWithout;
  }
  bt.lastDuration = std::max<int64_t>(1, durationOf(n - 1));
  if (hasNext) bt.lastDuration = std::min(bt.lastDuration, next - bt.times[n - 1]);
  return bt;
}

ClockMs RecordingClock::FrameTime(uint32_t frame) {
  if (!fromTicks()) return EvenTime(frame);
  if (frame >= frameCount_) return end() + int64_t{frame - frameCount_} * interval_;
  const uint32_t block = BlockOf(frame);
  const BlockTimes& bt = TimesOfBlock(block);
  const uint32_t i = frame - blocks_[block].firstFrame;
  return i < bt.times.size() ? bt.times[i] : bt.times.back() + interval_;
}

ClockMs RecordingClock::FrameDuration(uint32_t frame) {
  if (!fromTicks() || frame >= frameCount_) return std::max<int64_t>(1, EvenTime(frame + 1) - EvenTime(frame));
  const uint32_t block = BlockOf(frame);
  const BlockTimes& bt = TimesOfBlock(block);
  const uint32_t i = frame - blocks_[block].firstFrame;
  if (i + 1 < bt.times.size()) return bt.times[i + 1] - bt.times[i];
  return bt.lastDuration;
}

ClockMs RecordingClock::end() {
  if (frameCount_ == 0) return start();
  return FrameTime(frameCount_ - 1) + FrameDuration(frameCount_ - 1);
}

uint32_t RecordingClock::FirstFrameAtOrAfter(ClockMs t) {
  if (!fromTicks()) {
    uint32_t lo = 0, hi = frameCount_;
    while (lo < hi) {
      const uint32_t mid = lo + (hi - lo) / 2;
      if (EvenTime(mid) < t) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }
  if (blocks_.empty()) return frameCount_;
  // Blocks begin in rising order; a frame at t lies in the last block that begins by t.
  uint32_t block = 0;
  for (uint32_t lo = 0, hi = static_cast<uint32_t>(blocks_.size()); lo < hi;) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (BlockStart(mid) <= t) {
      block = mid;
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (BlockStart(block) > t) return blocks_[block].firstFrame;
  const BlockTimes& bt = TimesOfBlock(block);
  const auto it = std::lower_bound(bt.times.begin(), bt.times.end(), t);
  if (it != bt.times.end()) return blocks_[block].firstFrame + static_cast<uint32_t>(it - bt.times.begin());
  return block + 1 < blocks_.size() ? blocks_[block + 1].firstFrame : frameCount_;
}

std::vector<ClockGap> RecordingClock::Gaps() {
  std::vector<ClockGap> gaps;
  if (!fromTicks()) return gaps;
  const int64_t threshold = std::max<int64_t>(1000, 2 * interval_);
  for (uint32_t k = 0; k + 1 < blocks_.size(); ++k) {
    // The block's usual length tells which blocks may end in a pause; only those are read.
    const int64_t spare = relative_[k + 1] - relative_[k] - int64_t{blocks_[k].frames} * interval_;
    if (spare <= threshold / 2) continue;
    const BlockTimes& bt = TimesOfBlock(k);
    ClockGap gap;
    gap.frameAfter = blocks_[k + 1].firstFrame;
    gap.from = bt.times.back() + bt.lastDuration;
    gap.to = BlockStart(k + 1);
    if (gap.length() > threshold) gaps.push_back(gap);
  }
  return gaps;
}

}  // namespace zentrova
