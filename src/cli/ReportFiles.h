#pragma once
// convert --report: the report of each conversion written beside its output, NAME.report.json
// and NAME.report.txt (convert/ReportRecorder does the work; here the command line's settings and
// messages).
#include <memory>
#include <ostream>
#include <functional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "convert/ReportRecorder.h"

namespace zentrova::cli {

// The words of a command line as a shell would take them back: each quoted where it needs it.
std::string QuotedCommandLine(const std::vector<std::string>& words);

class ReportRecorder {
 public:
  // Nothing is recorded unless `enabled`. Starts hashing the recording.
  ReportRecorder(bool enabled, const std::string& input, const std::string& output, const ConvertOptions& options,
                 const JobOptions& job);

  bool enabled() const { return recorder_ != nullptr; }
  // A report of an earlier conversion stands at the name and may not be replaced (no -y): the
  // conversion does not start, and Finish says why.
  bool blocked() const { return recorder_ && recorder_->blocked(); }
  void Line(const std::string& line) {
    if (recorder_) recorder_->Line(line);
  }
  void Loop(const ConversionJob::LoopResult& loop, const DerivedRate& rate) {
    if (recorder_) recorder_->Loop(loop, rate);
  }
  void Damage(const std::vector<DamagedSpan>& damage) {
    if (recorder_) recorder_->Damage(damage);
  }
  // The pauses among the frames written, from the clock the conversion used, or one of the
  // recording's own. After Loop.
  void Gaps(RecordingClock& clock, uint32_t firstFrame) {
    if (recorder_) recorder_->Gaps(clock, firstFrame);
  }
  void GapsOfRecording(uint32_t firstFrame);
  // Completes the report with the output's facts and the exit status and writes both files;
  // a report that cannot be written is said on `err` and makes the status a failure.
  int Finish(int status, std::ostream& err);
  // Names the files in the report by these paths, where the ones read and written are reached
  // another way (through an open folder); `show` rewrites the log lines likewise.
  void ShowAs(std::string input, std::string output, std::function<std::string(const std::string&)> show) {
    if (recorder_) recorder_->ShowAs(std::move(input), std::move(output), std::move(show));
  }
  // The report written by Finish; null when none was asked for.
  const ConversionReport* report() const { return recorder_ ? &recorder_->report() : nullptr; }

 private:
  std::unique_ptr<zentrova::ReportRecorder> recorder_;
  int64_t clockOffsetMs_ = 0;
};

}  // namespace zentrova::cli
