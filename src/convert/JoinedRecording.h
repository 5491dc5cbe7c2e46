#pragma once
// convert --join: recordings of one camera written one after another into one output, in time
// order. In an AVI file (one rate for all its frames) the pause between two of them is filled
// with repeats of the last picture, and with silence where the recordings carry sound, so that
// the file stays in step with the clock across the pause; a Matroska or MP4 file gives the
// pictures after the pause their own time instead.
#include <cstdint>
#include <optional>
#include <string>

#include "convert/FrameWindow.h"
#include "recording/RecordingClock.h"

namespace zentrova {

struct JoinedRecording {
  std::string path;
  // Its frames, all of them when not set; decoding begins at the window's intra picture.
  std::optional<FrameWindow> window;
  uint32_t frames = 0;  // the frames written of it: the window's, or all the recording has
  // Frames written between the recording before and this one, each the last picture again.
  uint32_t repeatsBefore = 0;
  // Samples of silence (8000 a second, a multiple of 8) each repeat carries when the recordings
  // have sound: the time one frame lasts, so that pictures and sound cross the pause together.
  uint32_t silencePerRepeat = 0;
  // Its clock, which outlives the job; the output's times and subtitles of its frames come from it.
  RecordingClock* clock = nullptr;
};

}  // namespace zentrova
