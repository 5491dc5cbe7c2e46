#pragma once
// A batch's plan for each recording it found: convert it, or settle it at once (skipped, failed)
// with the row that says so.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/BatchScan.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "convert/FrameWindow.h"
#include "recording/RecordingScan.h"

namespace zentrova::cli::batch {

using Clock = std::chrono::steady_clock;

// One recording's result: a JSON row, a line on a pipe, an entry in the summary.
struct Row {
  std::string input, output;
  std::string status;  // ok, skipped, partial, failed
  int exitStatus = kExitOk;
  bool cancelled = false;
  bool haveRecording = false;
  uint32_t framesWritten = 0, framesDeclared = 0;
  int32_t startTime = 0, endTime = 0;
  double rate = 0;
  std::string codec, fourcc;
  uint64_t bytes = 0;
  double seconds = 0;
  std::string reason;
  std::vector<std::string> log;  // the job's log lines and diagnostics, shown with -v
};

// What the scan and the look at the recording decided for one item.
struct Plan {
  BatchItem item;
  Row row;               // filled in when the item is settled before converting
  bool convert = false;  // otherwise `row` is final
  bool replace = false;  // an existing output is replaced
  // --recover: the recording of the input that this output is made of, as the scan found it.
  std::shared_ptr<const FoundRecording> found;
  // --from/--to: this recording's part of the window.
  std::optional<FrameWindow> window;
};

// Looks at the recording and at what stands at its output name.
Plan PlanItem(const BatchItem& item, const ConvertOptions& c, std::shared_ptr<const FoundRecording> found = nullptr);

}  // namespace zentrova::cli::batch
