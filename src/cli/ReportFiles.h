#pragma once
// convert --report: the report of each conversion written beside its output, NAME.report.json
// and NAME.report.txt. The recording is hashed by a thread of its own while the job reads it.
#include <memory>
#include <optional>
#include <ostream>
#include <functional>
#include <string>
#include <thread>

#include "cli/Options.h"
#include "convert/ConversionReport.h"

namespace zentrova::cli {

// The report as one JSON object on one line.
std::string ReportJson(const ConversionReport& report);

class ReportRecorder {
 public:
  // Nothing is recorded unless `enabled`. Starts hashing the recording.
  ReportRecorder(bool enabled, const std::string& input, const std::string& output, const ConvertOptions& options,
                 const JobOptions& job);
  ~ReportRecorder();
  ReportRecorder(const ReportRecorder&) = delete;
  ReportRecorder& operator=(const ReportRecorder&) = delete;

  bool enabled() const { return enabled_; }
  // A report of an earlier conversion stands at the name and may not be replaced (no -y): the
  // conversion does not start, and Finish says why.
  bool blocked() const { return blocked_; }
  void Line(const std::string& line);
  void Loop(const ConversionJob::LoopResult& loop, const DerivedRate& rate);
  void Damage(const std::vector<DamagedSpan>& damage) { if (enabled_) report_.damage = damage; }
  // Completes the report with the output's facts and the exit status and writes both files;
  // a report that cannot be written is said on `err` and makes the status a failure.
  int Finish(int status, std::ostream& err);
  // Names the files in the report by these paths, where the ones read and written are reached
  // another way (through an open folder); `show` rewrites the log lines likewise.
  void ShowAs(std::string input, std::string output, std::function<std::string(const std::string&)> show) {
    shownInput_ = std::move(input);
    shownOutput_ = std::move(output);
    show_ = std::move(show);
  }

 private:
  bool enabled_;
  ConversionReport report_;
  std::thread hashing_;
  ConversionReport::File inputFacts_;
  bool finished_ = false;
  bool overwrite_ = false;
  bool blocked_ = false;
  std::string shownInput_, shownOutput_;
  std::function<std::string(const std::string&)> show_;
};

}  // namespace zentrova::cli
