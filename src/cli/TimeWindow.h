#pragma once
// convert --from/--to/--duration: the times the user gave, checked once, and placed on each
// recording's clock; and the files that carry the clock beside an output (--frame-times, NAME.srt).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "convert/ConversionJob.h"
#include "convert/FrameRate.h"
#include "convert/FrameWindow.h"
#include "convert/JoinedTimeline.h"
#include "convert/WindowRequest.h"
#include "recording/ClockText.h"
#include "recording/RecordingClock.h"

namespace zentrova {
class ZrReader;
}

namespace zentrova::cli {

// Refused when a time is malformed or the window is empty by itself (a usage error).
Expected<void> ParseWindowRequest(const TimeOptions& options, WindowRequest& request);

// The frames written, timed in the output at `rate`: `count` frames of the recordings on
// `timeline`, from its first frame on.
struct WrittenFrames {
  JoinedTimeline timeline;
  uint32_t count = 0;
  FrameRate rate;
  // Pictures an AVI output repeats through the recorder's pauses, and between joined recordings,
  // which move the frames after them.
  std::vector<PictureRepeat> repeats = {};
  // Where frame k (counted from 0) stands among the output's pictures.
  uint64_t PictureOf(uint64_t k) const;
};

// A CSV line per frame: frame, recording frame, output time, clock time in UTC and in recorder
// time. Refused when the file cannot be written.
Expected<void> WriteFrameTimes(const std::string& path, const WrittenFrames& frames);
// A SubRip file whose cue for each frame is its clock time in the recorder's time; written under
// a temporary name and renamed, so an existing file is replaced only by a whole one.
Expected<void> WriteSubRip(const std::string& path, const WrittenFrames& frames);
// NAME.srt for the output NAME.avi (NAME.srt beside any other name too).
std::string SubRipNameFor(const std::string& output);

}  // namespace zentrova::cli
