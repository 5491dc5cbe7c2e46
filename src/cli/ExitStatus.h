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

// A batch exits with the worst status among its recordings. From the mildest to the worst: ok (a
// rerun's skipped, complete output counts as ok), a recording that ended early (4), partial
// output (3), failed (1), a usage error (2), cancelled (130; also when Ctrl-C left recordings
// unconverted). So a batch exits 0 only when every recording converted.
inline int Severity(int status) {
  switch (status) {
    case kExitOk: return 0;
    case kExitRecordingShort: return 1;
    case kExitPartial: return 2;
    case kExitFailed: return 3;
    case kExitUsage: return 4;
    case kExitCancelled: return 5;
  }
  return 3;
}

inline int WorseStatus(int a, int b) { return Severity(b) > Severity(a) ? b : a; }

}  // namespace zentrova::cli
