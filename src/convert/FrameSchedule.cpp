#include "convert/FrameSchedule.h"

namespace zentrova {

FrameSchedule::FrameSchedule(std::vector<Part> parts) : parts_(std::move(parts)) {}

std::optional<FrameSchedule::Step> FrameSchedule::Next() {
  while (part_ < parts_.size()) {
    const Part& p = parts_[part_];
    const uint64_t k = done_;
    const uint64_t total = uint64_t{p.repeatsBefore} + p.preRoll + p.frames;
    if (k >= total) {
      ++part_;
      done_ = 0;
      continue;
    }
    ++done_;
    Step step;
    step.part = part_;
    if (k < p.repeatsBefore) {
      step.slot = Slot::Repeat;
      return step;
    }
    step.partBegins = k == p.repeatsBefore;
    step.slot = k < uint64_t{p.repeatsBefore} + p.preRoll ? Slot::PreRoll : Slot::Frame;
    return step;
  }
  return std::nullopt;
}

uint64_t FrameSchedule::outputFrames() const {
  uint64_t n = 0;
  for (const Part& p : parts_) n += uint64_t{p.repeatsBefore} + p.frames;
  return n;
}

uint64_t FrameSchedule::repeats() const {
  uint64_t n = 0;
  for (const Part& p : parts_) n += p.repeatsBefore;
  return n;
}

FrameSchedule ScheduleOfJob(const std::optional<FrameWindow>& window, uint32_t frames,
                            const std::vector<JoinedRecording>& joined) {
  std::vector<FrameSchedule::Part> parts;
  parts.push_back({0, window ? window->first - window->decodeFrom : 0, frames});
  for (const JoinedRecording& j : joined)
    parts.push_back({j.repeatsBefore, j.window ? j.window->first - j.window->decodeFrom : 0, j.frames});
  return FrameSchedule(std::move(parts));
}

}  // namespace zentrova
