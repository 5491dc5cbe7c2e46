// convert INPUT OUTPUT: one recording into one AVI file, the job's log on standard output exactly
// as the desktop dialog shows it; on a terminal a progress line on standard error.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "cli/AviProbe.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Progress.h"
#include "cli/Signals.h"
#include "convert/ConversionJob.h"

namespace zentrova::cli {

IdctChoice IdctOf(const std::string& name) {
  if (name == "plain") return IdctChoice::Plain;
  if (name == "vector") return IdctChoice::Vector;
  return IdctChoice::Auto;
}

int RunConvertOne(const Invocation& how, std::ostream& out, std::ostream& err) {
  const ConvertOptions& c = how.convert;
  JobOptions options;
  std::string unusable;
  if (!ApplyOutputOptions(c.outputChoice, c.inputs[1], c.codec, options, &unusable)) {
    err << "zentrova: " << unusable << std::endl;
    return kExitUsage;
  }
  options.idct = IdctOf(c.idct);
  options.overwrite = c.overwrite && !c.neverOverwrite;
  options.cancel = &Cancel().stop;

  ProgressLine line(err, how.errIsTerminal && !how.output.noProgress && !how.output.quiet);
  const bool quiet = how.output.quiet;
  ConversionJob job(
      [&](const std::string& text) {
        line.Clear();
        if (!quiet) out << text << std::endl;
      },
      [&](const std::string& message) {
        line.Clear();
        err << "zentrova: " << message << std::endl;
      },
      options,
      [&](const std::string& reason) {
        line.Clear();
        err << "zentrova: " << reason << std::endl;
      });

  // What a conversion stopped before its first frame leaves at the name (an empty file, or an AVI
  // file without frames) is named as such; it is still replaced only with -y.
  if (!options.overwrite) {
    struct stat st {};
    if (::lstat(c.inputs[1].c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      const AviProbe probe = ProbeAvi(c.inputs[1]);
      if (st.st_size == 0 || (probe.isAvi && probe.frames == 0))
        err << "zentrova: " << Printable(c.inputs[1]) << (st.st_size == 0 ? " is empty" : " holds no frames")
            << ", as a conversion stopped before its first frame leaves it; -y replaces it" << std::endl;
    }
  }

  avi::CompressOptions chosen{c.codec, c.quality};
  const auto setup = job.Convert(c.inputs[0], c.inputs[1], [&] { return std::optional(chosen); });
  if (setup == ConversionJob::Setup::Cancelled) return kExitCancelled;
  if (setup != ConversionJob::Setup::Started) return kExitFailed;

  const auto start = std::chrono::steady_clock::now();
  auto lastDraw = start - std::chrono::seconds(1);
  const double rate = job.rate().rate.fps() > 0 ? job.rate().rate.fps() : 1;
  ProgressSink progress;
  if (line.enabled())
    progress = [&](uint32_t done, uint32_t total) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastDraw < std::chrono::milliseconds(250) && done != total) return;
      lastDraw = now;
      ProgressFigures f;
      f.framesDone = done;
      f.framesTotal = total;
      f.videoSeconds = done / rate;
      f.elapsed = std::chrono::duration<double>(now - start).count();
      line.Draw(ProgressText(f, line.width()));
    };
  const ConversionJob::LoopResult result = job.RunFrameLoop(&Cancel().stop, progress);
  line.Clear();
  job.Finish();  // "File saved!", then what fell short; the reason goes to the diagnostics sink
  if (how.output.verbose) {
    const AviProbe probe = ProbeAvi(c.inputs[1]);
    char figures[160];
    std::snprintf(figures, sizeof figures, ": %u of %u frames at %.3f frames/s, %s, %llu bytes, %.1f s", result.framesWritten,
                  result.framesDeclared, probe.rate, FourCCText(probe.fourcc).c_str(),
                  static_cast<unsigned long long>(probe.bytes),
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    out << Printable(c.inputs[1]) << figures << std::endl;
  }
  if (result.outcome == JobOutcome::Saved && Cancel().stop.load()) return kExitCancelled;
  return ExitStatusOf(result.outcome);
}

}  // namespace zentrova::cli
