#pragma once
// Where each frame of a joined output was recorded: the frames of the first recording (from its
// window's first), then those of each recording joined after it, every one placed on its own
// recording's clock. A Matroska or MP4 output times its pictures by it, so the pause between two
// recordings stays a pause; the subtitles of any output take their cues from it.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "convert/FrameWindow.h"
#include "convert/JoinedRecording.h"
#include "recording/RecordingClock.h"

namespace zentrova {

class JoinedTimeline {
 public:
  struct Part {
    RecordingClock* clock = nullptr;  // outlives the timeline
    uint32_t first = 0;               // the recording's first frame written
    uint32_t frames = 0;              // frames written of it
    uint32_t repeatsBefore = 0;       // an AVI output's repeats of the last picture before it
  };

  JoinedTimeline() = default;
  explicit JoinedTimeline(std::vector<Part> parts) : parts_(std::move(parts)) {}
  // The job's own recording (`frames` of it after `window`'s first) and the recordings joined to
  // it; a joined recording without a clock ends the timeline before it.
  static JoinedTimeline OfJob(RecordingClock* clock, const std::optional<FrameWindow>& window, uint32_t frames,
                              const std::vector<JoinedRecording>& joined);

  bool empty() const { return parts_.empty(); }
  const std::vector<Part>& parts() const { return parts_; }
  int32_t utcOffsetHours() const { return parts_.empty() ? 0 : parts_.front().clock->utcOffsetHours(); }

  // The clock time of frame k, counted from 0 over the recordings' frames (repeats are not
  // frames). Past the last frame, as if the last recording went on.
  ClockMs FrameTime(uint64_t k) const;
  // The same with each recording's frames at its usual spacing from its first frame's time, as an
  // output timed at the recording's rate shows them: only the pauses between recordings stay.
  ClockMs EvenFrameTime(uint64_t k) const;
  // Frame k as its own recording counts it.
  uint32_t RecordingFrame(uint64_t k) const;

 private:
  // The part frame k lies in, and k counted inside it; the last part for frames past the end.
  std::pair<size_t, uint64_t> PartOf(uint64_t k) const;

  std::vector<Part> parts_;
};

}  // namespace zentrova
