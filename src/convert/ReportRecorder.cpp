#include "convert/ReportRecorder.h"

#include <chrono>

#include "libav/Module.h"
#include "recording/TimedRecording.h"

namespace zentrova {
namespace {

int64_t NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ReportRecorder::ReportRecorder(ReportRequest request) : input_(request.input) {
  blocked_ = !request.overwrite && (ConversionJob::WouldReplace(ReportPath(request.output, "json")) ||
                                    ConversionJob::WouldReplace(ReportPath(request.output, "txt")));
  report_.started = NowMillis();
  report_.output.path = request.output;
  report_.program = std::move(request.program);
  // The recording is read once more, sequentially, beside the job: its digest costs no second
  // conversion and little time.
  hashing_ = std::thread([this] { inputFacts_ = FileFacts(input_); });
  ReadRecordingFacts(input_, report_);
  report_.container = container::FormatName(request.format);
  report_.codec = std::move(request.codec);
  report_.settings = std::move(request.settings);
}

ReportRecorder::~ReportRecorder() {
  if (hashing_.joinable()) hashing_.join();
}

void ReportRecorder::Setting(const std::string& name, const std::string& value) {
  for (ReportSetting& s : report_.settings)
    if (s.name == name) {
      s.value = value;
      return;
    }
  report_.settings.push_back({name, value});
}

void ReportRecorder::Line(const std::string& line) {
  std::lock_guard lock(lines_);
  report_.log.push_back(line);
}

void ReportRecorder::Loop(const ConversionJob::LoopResult& loop, const DerivedRate& rate) {
  TakeLoopResult(loop, rate, report_);
}

void ReportRecorder::Gaps(RecordingClock& clock, uint32_t firstFrame) { TakeClockGaps(clock, firstFrame, report_); }

void ReportRecorder::GapsOfRecording(int64_t clockOffsetMs, uint32_t firstFrame) {
  TimedRecording timed;
  if (auto opened = timed.Open(input_, clockOffsetMs); !opened) {
    report_.clock = "not read: " + opened.reason();
    return;
  }
  Gaps(*timed.clock, firstFrame);
}

Expected<void> ReportRecorder::Finish(int exitStatus) {
  if (finished_) return {};
  finished_ = true;
  if (hashing_.joinable()) hashing_.join();
  report_.input = inputFacts_;
  if (report_.codec != "raw") {
    if (const Expected<const libav::Module*>& module = libav::Load()) report_.libraries = (*module)->libraryVersions();
  }
  report_.output = FileFacts(report_.output.path);
  report_.exitStatus = exitStatus;
  report_.ended = NowMillis();
  const std::string output = report_.output.path;
  std::lock_guard lock(lines_);
  if (!shownInput_.empty()) report_.input.path = shownInput_;
  if (!shownOutput_.empty()) report_.output.path = shownOutput_;
  if (show_)
    for (std::string& line : report_.log) line = show_(line);
  if (blocked_)
    return Failure(ReportPath(report_.output.path, "json") +
                   " exists; only a conversion that may replace its output replaces it");
  Expected<void> written = WriteWholeFile(ReportPath(output, "json"), ReportJson(report_));
  if (written) written = WriteWholeFile(ReportPath(output, "txt"), ReportText(report_));
  if (!written) return Failure("the report could not be written: " + written.reason());
  return {};
}

}  // namespace zentrova
