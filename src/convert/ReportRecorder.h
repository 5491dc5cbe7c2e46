#pragma once
// The report of one conversion as it goes: started with the names and settings, it hashes the
// recording on a thread of its own while the job reads it, gathers the log lines and what the
// job found, and on Finish hashes the output and writes NAME.report.json and NAME.report.txt
// beside it. The command line and the desktop dialog both keep one per conversion.
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "container/ContainerFile.h"
#include "convert/ConversionReport.h"

namespace zentrova {

struct ReportRequest {
  std::string input, output;
  std::string program;                  // "zentrova 1.0.0"
  std::vector<ReportSetting> settings;  // as the front end names them
  std::string codec;
  container::Format format = container::Format::Avi;
  // The reports of an earlier conversion beside the output may be replaced (they are evidence
  // too: only when the output itself may be).
  bool overwrite = false;
};

class ReportRecorder {
 public:
  explicit ReportRecorder(ReportRequest request);
  ~ReportRecorder();
  ReportRecorder(const ReportRecorder&) = delete;
  ReportRecorder& operator=(const ReportRecorder&) = delete;

  // A report of an earlier conversion stands at the name and may not be replaced: the
  // conversion should not start, and Finish refuses to write.
  bool blocked() const { return blocked_; }
  const std::string& output() const { return report_.output.path; }

  // Sets a setting, replacing one of the same name (the compressor chosen once the job asks).
  void Setting(const std::string& name, const std::string& value);
  void Codec(const std::string& codec) { report_.codec = codec; }
  // May be called from any thread.
  void Line(const std::string& line);
  void Loop(const ConversionJob::LoopResult& loop, const DerivedRate& rate);
  void Damage(const std::vector<DamagedSpan>& damage) { report_.damage = damage; }
  // The pauses of the recorder among the frames written, which began at the recording's frame
  // `firstFrame`; after Loop.
  void Gaps(RecordingClock& clock, uint32_t firstFrame);
  // The same from a clock of the recording's own, opened for it.
  void GapsOfRecording(int64_t clockOffsetMs, uint32_t firstFrame);

  // Completes the report with the output's facts and `exitStatus` and writes both files, once;
  // the error says why they were not written.
  Expected<void> Finish(int exitStatus);
  // Names the files in the report by these paths, where the ones read and written are reached
  // another way (through an open folder); `show` rewrites the log lines likewise.
  void ShowAs(std::string input, std::string output, std::function<std::string(const std::string&)> show) {
    shownInput_ = std::move(input);
    shownOutput_ = std::move(output);
    show_ = std::move(show);
  }
  // The report as far as it goes (whole after Finish).
  const ConversionReport& report() const { return report_; }

 private:
  ConversionReport report_;
  std::string input_;
  std::thread hashing_;
  ConversionReport::File inputFacts_;
  std::mutex lines_;
  bool finished_ = false;
  bool blocked_ = false;
  std::string shownInput_, shownOutput_;
  std::function<std::string(const std::string&)> show_;
};

}  // namespace zentrova
