#pragma once
// What one run of the frame loop keeps from its first frame to the lines that end it: where the
// reading and the writing stand, what went wrong, and what the completed file holds.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/OutputFile.h"
#include "convert/ConversionJob.h"
#include "convert/FrameSchedule.h"

namespace zentrova {

struct ConversionJob::LoopState {
  const std::atomic<bool>* cancel = nullptr;
  const ProgressSink* progress = nullptr;
  LoopResult result;

  // Reading: the frames asked for, the recording they come from now, and why it stopped.
  FrameSchedule reading;
  uint32_t fetched = 0;
  ZrReader* source = nullptr;
  std::string sourcePath;
  // Which side decodes the sound: the reading one (groups decoded side by side, or a writer with
  // more to do than decoding it), or the writing one. A joined recording's sound starts afresh there.
  bool soundOnRead = true;
  std::string joinedShort;  // what earlier joined recordings lacked, said once the loop ends
  std::string exhausted;    // why the reader delivered no more frames, when it stopped before the last
  bool readerEnded = false;
  uint32_t cutFrames = 0, firstCut = 0;

  // Writing: the frames placed, the recorder's pauses filled, the pictures in the file.
  FrameSchedule writing;
  std::vector<ClockGap> pauses;
  size_t nextPause = 0;
  uint32_t pictures = 0;  // in the file, repeats included
  std::vector<std::string> pauseLines;
  bool soundSeen = false;
  bool writeFailed = false, outOfMemory = false;

  // The end: what stopped the reading, and what the completed file holds.
  std::string chainProblem;
  uint32_t beyondChain = 0;
  Completion done;
  std::string writeReason;
  bool whole = false;  // no cancel, no failed write, memory enough

  bool CancelAsked() const { return cancel && cancel->load(std::memory_order_relaxed); }
  void MarkCancelled() {
    result.cancelled = true;
    result.outcome = JobOutcome::Cancelled;
  }
};

}  // namespace zentrova
