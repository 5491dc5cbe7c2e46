#pragma once
// A part of a recording chosen by time (convert --from/--to): the frames it holds, and where
// decoding must begin so that its first picture is shown as recorded.
#include <cstdint>
#include <optional>
#include <string>

#include "base/Expected.h"

#include "recording/RecordingClock.h"

namespace zentrova {

class ZrReader;

struct FrameWindow {
  uint32_t first = 0;  // the first frame written: the first whose time is at or after `from`
  uint32_t end = 0;    // one past the last: the first whose time is at or after `to`
  // Decoding begins at the intra picture at or before `first` (the first frame when there is
  // none), which positioned access reaches through the block index: block, frame in block.
  uint32_t decodeFrom = 0;
  int32_t decodeBlock = 0;
  int32_t decodeFrameInBlock = 0;
  ClockMs fromTime = 0;  // the window asked for, on the recording's clock
  ClockMs toTime = 0;

  uint32_t frames() const { return end - first; }
};

// The window [from, to) of the recording that `reader` holds, placed by `clock`, or where the
// window lies when no frame of the recording lies in it. Reads only the blocks around `from` (to
// find the intra picture), never what lies before them.
Expected<FrameWindow> FindFrameWindow(ZrReader& reader, RecordingClock& clock, ClockMs from, ClockMs to);

}  // namespace zentrova
