#pragma once
// What a scan found in a file, told the same way by `convert --recover`, `recover` and `info`:
// a few lines for people on standard error, one JSON object per recording for scripts.
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "convert/FoundReport.h"
#include "recording/RecordingScan.h"

namespace zentrova::cli {

// One JSON object (one line) for a found recording: where it lies, frames, times, damage, and
// the output written from it when there is one.
std::string FoundJson(const std::string& input, const FoundRecording& found, size_t index,
                      const std::string& output, const std::string& status, int exitStatus,
                      uint32_t framesWritten, uint32_t damagedPictures);

// Scans `input` with a progress line on a terminal (when the invocation allows one); Ctrl-C ends
// the scan at once, keeping what was found.
ScanResult ScanWithProgress(const Invocation& how, const std::string& input, ScanOptions scan, std::ostream& err);

}  // namespace zentrova::cli
