#pragma once
// The files that carry the recording's clock beside an output: the CSV of --frame-times, and
// NAME.srt beside an AVI file (which has no subtitle track of its own). They follow the output's
// rule: nothing existing is replaced without -y. A single conversion, each conversion of a batch
// and a joined output write them alike.
#include <ostream>
#include <string>

#include "cli/Options.h"
#include "cli/TimeWindow.h"
#include "container/ContainerFile.h"

namespace zentrova::cli {

class ClockFiles {
 public:
  // Before the conversion: refused when --frame-times names an existing file and `overwrite` is
  // not given (nothing may be written then).
  Expected<void> Plan(const TimeOptions& options, const std::string& output, container::Format format, bool overwrite);
  // After it, for the frames it wrote: the warnings and errors go to `err`; returns `status`, or
  // a worse one when --frame-times could not be written.
  int Write(const WrittenFrames& written, int status, std::ostream& err) const;

 private:
  std::string frameTimes_;
  std::string subRip_;
  bool writeSubRip_ = false;
  bool subRipKept_ = false;  // one exists and -y was not given: said, not replaced
};

}  // namespace zentrova::cli
