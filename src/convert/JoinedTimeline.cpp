#include "convert/JoinedTimeline.h"

#include <algorithm>

namespace zentrova {

JoinedTimeline JoinedTimeline::OfJob(RecordingClock* clock, const std::optional<FrameWindow>& window, uint32_t frames,
                                     const std::vector<JoinedRecording>& joined) {
  std::vector<Part> parts;
  if (!clock) return JoinedTimeline();
  parts.push_back({clock, window ? window->first : 0, frames, 0});
  for (const JoinedRecording& j : joined) {
    if (!j.clock) break;
    parts.push_back({j.clock, j.window ? j.window->first : 0, j.frames, j.repeatsBefore});
  }
  return JoinedTimeline(std::move(parts));
}

std::pair<size_t, uint64_t> JoinedTimeline::PartOf(uint64_t k) const {
  for (size_t p = 0; p + 1 < parts_.size(); ++p) {
    if (k < parts_[p].frames) return {p, k};
    k -= parts_[p].frames;
  }
  return {parts_.size() - 1, k};
}

uint32_t JoinedTimeline::RecordingFrame(uint64_t k) const {
  if (parts_.empty()) return 0;
  const auto [p, i] = PartOf(k);
  return static_cast<uint32_t>(std::min<uint64_t>(parts_[p].first + i, UINT32_MAX));
}

ClockMs JoinedTimeline::FrameTime(uint64_t k) const {
  if (parts_.empty()) return 0;
  return parts_[PartOf(k).first].clock->FrameTime(RecordingFrame(k));
}

ClockMs JoinedTimeline::EvenFrameTime(uint64_t k) const {
  if (parts_.empty()) return 0;
  const auto [p, i] = PartOf(k);
  const Part& part = parts_[p];
  const ClockMs even = part.clock->FrameTime(part.first) + static_cast<int64_t>(i) * part.clock->frameInterval();
  if (p + 1 >= parts_.size() || i >= part.frames) return even;
  // A recording whose usual spacing would reach past the next one's first frame is drawn in
  // before it, so that the times still rise.
  const Part& next = parts_[p + 1];
  return std::min(even, next.clock->FrameTime(next.first) - static_cast<int64_t>(part.frames - i));
}

}  // namespace zentrova
