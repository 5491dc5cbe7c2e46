#include "convert/RecordingDigest.h"

namespace zentrova {

RecordingDigest DigestRecording(const std::string& input, JobOptions options, DigestKind kind,
                                DigestOutput::PictureSink pictures) {
  RecordingDigest digest;
  digest.output = std::make_shared<DigestOutput>(kind, std::move(pictures));
  options.format = container::Format::Avi;
  options.outputFile = [out = digest.output] { return out; };
  std::string reason;
  auto note = [&reason](const std::string& line) {
    if (reason.empty()) reason = line;
  };
  ConversionJob job({}, note, options, note);
  // The name only passes the job's checks; nothing is opened at it.
  const auto setup = job.Convert(input, "digest.avi", [] { return std::optional(avi::CompressOptions{"raw", 100}); });
  if (setup != ConversionJob::Setup::Started) {
    digest.cancelled = setup == ConversionJob::Setup::Cancelled;
    digest.reason = reason.empty() ? input + ": cannot be read" : reason;
    return digest;
  }
  digest.started = true;
  digest.loop = job.RunFrameLoop(options.cancel);
  digest.cancelled = digest.loop.cancelled;
  digest.reason = digest.loop.reason;
  return digest;
}

}  // namespace zentrova
