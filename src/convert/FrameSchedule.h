#pragma once
// The order of the frames a job reads and writes: for each recording, the pictures decoded only
// to reach its first frame (from the intra picture before a window), then its frames; between
// two joined recordings, the repeats of the last picture that fill the pause. The reading and
// the writing side each walk a copy of it, so that both agree which frame is which without
// passing anything along with the frames.
//
// A repeat is the place where an output that carries each frame's own time could leave the
// pause as a pause instead: it knows which frames are repeats and, from the recordings' clocks,
// when the next frame was recorded.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "convert/FrameWindow.h"
#include "convert/JoinedRecording.h"

namespace zentrova {

class FrameSchedule {
 public:
  struct Part {
    uint32_t repeatsBefore = 0;  // repeats of the last picture before the part's first frame
    uint32_t preRoll = 0;        // pictures decoded and not written before it
    uint32_t frames = 0;         // frames written
  };
  enum class Slot { Repeat, PreRoll, Frame };
  struct Step {
    Slot slot = Slot::Frame;
    size_t part = 0;
    bool partBegins = false;  // the part's first read from its recording (preroll or frame)
  };

  FrameSchedule() = default;  // no frames
  explicit FrameSchedule(std::vector<Part> parts);

  // The next frame's place; nullopt once every part is through.
  std::optional<Step> Next();

  // The frames written: every part's frames and repeats.
  uint64_t outputFrames() const;
  uint64_t repeats() const;

 private:
  std::vector<Part> parts_;
  size_t part_ = 0;
  uint64_t done_ = 0;  // steps taken inside the current part (repeats, preroll, frames)
};

// A job's order: the `frames` of its own recording (after the preroll of its `window`), then
// those of each joined recording after the repeats before it.
FrameSchedule ScheduleOfJob(const std::optional<FrameWindow>& window, uint32_t frames,
                            const std::vector<JoinedRecording>& joined);

}  // namespace zentrova
