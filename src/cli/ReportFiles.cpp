#include "cli/ReportFiles.h"

#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Timeline.h"

namespace zentrova::cli {

std::string QuotedCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    const bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789_./=:,+-@%") == std::string::npos;
    if (plain) {
      line += word;
      continue;
    }
    line += '\'';
    for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

ReportRecorder::ReportRecorder(bool enabled, const std::string& input, const std::string& output,
                               const ConvertOptions& options, const JobOptions& job) {
  if (!enabled) return;
  clockOffsetMs_ = ClockOffsetMs(options.time.clockOffsetSeconds);
  ReportRequest request;
  request.input = input;
  request.output = output;
  request.program = "zentrova " ZENTROVA_VERSION;
  request.codec = options.codec;
  request.format = job.format;
  request.overwrite = job.overwrite;
  request.settings = {{"command line", QuotedCommandLine(options.commandLine)},
                      {"codec", options.codec},
                      {"quality", std::to_string(options.quality)},
                      {"rate", options.outputChoice.rate},
                      {"idct", options.idct},
                      {"recover", options.recover ? "yes" : "no"},
                      {"overwrite", job.overwrite ? "yes" : "no"}};
  if (job.window)
    request.settings.push_back({"window", "frames " + std::to_string(job.window->first) + " to " +
                                              std::to_string(job.window->end - 1) + " of the recording"});
  recorder_ = std::make_unique<zentrova::ReportRecorder>(std::move(request));
}

void ReportRecorder::GapsOfRecording(uint32_t firstFrame) {
  if (recorder_) recorder_->GapsOfRecording(clockOffsetMs_, firstFrame);
}

int ReportRecorder::Finish(int status, std::ostream& err) {
  if (!recorder_) return status;
  const bool blocked = recorder_->blocked();
  const Expected<void> written = recorder_->Finish(status);
  if (written) return status;
  // The report of an earlier conversion is evidence too: replaced only with -y, as the output is.
  if (blocked)
    err << "zentrova: " << Printable(ReportPath(recorder_->output(), "json")) << " exists; -y replaces it" << std::endl;
  else
    err << "zentrova: " << Printable(written.reason()) << std::endl;
  return WorseStatus(status, kExitFailed);
}

}  // namespace zentrova::cli
