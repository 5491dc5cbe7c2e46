#pragma once
// The exit statuses of `zentrova`, one table for every command (the README lists them).
#include "convert/ConversionJob.h"

namespace zentrova::cli {

inline constexpr int kExitOk = 0;
// A failure: nothing usable was written (the recording refused, the output not writable, ...).
inline constexpr int kExitFailed = 1;
// A usage error: the usage line is on standard error.
inline constexpr int kExitUsage = 2;
// The output was completed but holds fewer frames than converted: a write failed (disk full).
inline constexpr int kExitPartial = 3;
// The recording ended before its declared frames; everything that was there is saved.
inline constexpr int kExitRecordingShort = 4;
// Ctrl-C or SIGTERM: the output is completed with the frames so far.
inline constexpr int kExitCancelled = 130;

inline int ExitStatusOf(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Saved: return kExitOk;
    case JobOutcome::RecordingShort: return kExitRecordingShort;
    case JobOutcome::WriteFailed: return kExitPartial;
    case JobOutcome::Cancelled: return kExitCancelled;
  }
  return kExitFailed;
}

}  // namespace zentrova::cli
