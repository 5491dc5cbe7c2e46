#pragma once
// A recording opened for its clock: a reader of its own, which the clock uses to read the sound
// of the blocks it places frames in, so that it never moves the cursor of a conversion's reader.
#include <atomic>
#include <memory>
#include <string>

#include "base/Expected.h"
#include "recording/FrameRecord.h"
#include "recording/RecordingClock.h"
#include "recording/ZrReader.h"

namespace zentrova {

struct TimedRecording {
  std::unique_ptr<ZrReader> reader;
  RecordingInfo info;
  std::unique_ptr<RecordingClock> clock;

  // Refused ("path: reason") when the recording does not open. `cancel` set (Ctrl-C) stops the
  // opening while it walks the block chain.
  Expected<void> Open(const std::string& path, int64_t clockOffsetMs, const std::atomic<bool>* cancel = nullptr);
};

// The clock of an open reader, reading sound through it.
std::unique_ptr<RecordingClock> ClockOfReader(ZrReader& reader, int64_t clockOffsetMs);

}  // namespace zentrova
