// convert INPUT OUTPUT: one recording into one AVI file, the job's log on standard output exactly
// as the desktop dialog shows it; on a terminal a progress line on standard error. With --recover
// the file is scanned first and every recording found becomes an output of its own.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "avi/AviReader.h"
#include "cli/ClockFiles.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Progress.h"
#include "cli/RecoveryReport.h"
#include "cli/ReportFiles.h"
#include "cli/Signals.h"
#include "cli/Timeline.h"
#include "cli/TimeWindow.h"
#include "convert/ConversionJob.h"
#include "recording/TimedRecording.h"

namespace zentrova::cli {

// One conversion of `input` into `output`, its log on `out`; returns the exit status. The report
// takes its gaps from `clock`, the recording's clock the conversion was placed by, where there is one.
int ConvertWith(const Invocation& how, const JobOptions& options, const std::string& input, const std::string& output,
                std::ostream& out, std::ostream& err, ConversionJob::LoopResult* loop,
                const std::vector<DamagedSpan>* damage, FrameRate* finalRate, RecordingClock* clock) {
  const ConvertOptions& c = how.convert;
  ProgressLine line(err, how.errIsTerminal && !how.output.noProgress && !how.output.quiet);
  const bool quiet = how.output.quiet;
  ReportRecorder report(c.report, input, output, c, options);
  if (damage) report.Damage(*damage);
  // With --json standard output holds the one object and nothing else; the log goes to errors.
  std::ostream& log = how.output.json ? err : out;
  ConversionJob job(
      [&](const std::string& text) {
        line.Clear();
        report.Line(text);
        if (!quiet) log << text << std::endl;
      },
      [&](const std::string& message) {
        line.Clear();
        report.Line("zentrova: " + message);
        err << "zentrova: " << message << std::endl;
      },
      options,
      [&](const std::string& reason) {
        line.Clear();
        report.Line("zentrova: " + reason);
        err << "zentrova: " << reason << std::endl;
      });

  // What a conversion stopped before its first frame leaves at the name (an empty file, or an AVI
  // file without frames) is named as such; it is still replaced only with -y.
  if (!options.overwrite) {
    struct stat st {};
    if (::lstat(output.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      const avi::AviProbe probe = avi::ProbeAvi(output);
      if (st.st_size == 0 || (probe.isAvi && probe.frames == 0))
        err << "zentrova: " << Printable(output) << (st.st_size == 0 ? " is empty" : " holds no frames")
            << ", as a conversion stopped before its first frame leaves it; -y replaces it" << std::endl;
    }
  }

  if (report.blocked()) return report.Finish(kExitFailed, err);
  avi::CompressOptions chosen{c.codec, c.quality};
  const auto setup = job.Convert(input, output, [&] { return std::optional(chosen); });
  if (setup != ConversionJob::Setup::Started) {
    const int status = setup == ConversionJob::Setup::Cancelled ? kExitCancelled : kExitFailed;
    if (how.output.json)
      out << JsonObject()
                 .AddPath("input", input)
                 .AddPath("output", output)
                 .Add("status", status == kExitCancelled ? "cancelled" : "failed")
                 .Add("exitStatus", status)
                 .Text()
          << std::endl;
    return report.Finish(status, err);
  }

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
  if (loop) *loop = result;
  report.Loop(result, job.rate());
  if (clock) report.Gaps(*clock, options.window ? options.window->first : 0);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string& written = result.partialPath.empty() ? output : result.partialPath;
  // Where a terminal showed the progress line, the figures of the whole conversion stay.
  if (line.enabled()) {
    struct stat st {};
    const uint64_t bytes = ::stat(written.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    const double fps = job.rate().rate.fps();
    err << StatsText(result.framesWritten, fps > 0 ? result.framesWritten / fps : 0, elapsed, bytes) << std::endl;
  }
  int status = ExitStatusOf(result.outcome);
  if (result.outcome == JobOutcome::Saved && Cancel().stop.load()) status = kExitCancelled;
  if (how.output.json) {
    JsonObject json;
    json.AddPath("input", input).AddPath("output", output);
    if (!result.partialPath.empty()) json.AddPath("partial", result.partialPath);
    json.Add("status", status == kExitOk ? "ok" : status == kExitCancelled ? "cancelled" : "partial")
        .Add("exitStatus", status)
        .Add("framesWritten", result.framesWritten)
        .Add("framesDeclared", result.framesDeclared)
        .AddNumber("rate", job.rate().rate.fps(), 3)
        .Add("codec", c.codec)
        .Add("bytes", avi::ProbeAvi(written).bytes)
        .AddNumber("seconds", elapsed, 3);
    if (!result.reason.empty()) json.Add("reason", result.reason);
    out << json.Text() << std::endl;
  }
  if (finalRate) *finalRate = job.rate().rate;
  if (how.output.verbose) {
    const avi::AviProbe probe = avi::ProbeAvi(output);
    char figures[160];
    std::snprintf(figures, sizeof figures, ": %u of %u frames at %.3f frames/s, %s, %llu bytes, %.1f s", result.framesWritten,
                  result.framesDeclared, probe.rate, avi::FourCCText(probe.fourcc).c_str(),
                  static_cast<unsigned long long>(probe.bytes),
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    log << Printable(output) << figures << std::endl;
  }
  return report.Finish(status, err);
}

namespace {

int ConvertRecovered(const Invocation& how, const JobOptions& base, std::ostream& out, std::ostream& err) {
  const ConvertOptions& c = how.convert;
  ScanOptions scan;
  if (auto usable = ScanOptionsOf(c, scan); !usable) {
    err << "zentrova: " << usable.reason() << std::endl;
    return kExitUsage;
  }
  const ScanResult found = ScanWithProgress(how, c.inputs[0], scan, err);
  if (found.cancelled) {
    err << "zentrova: scan cancelled after " << found.recordings.size() << " recordings were found; nothing written"
        << std::endl;
    return kExitCancelled;
  }
  if (!found.error.empty()) err << "zentrova: " << Printable(c.inputs[0]) << ": " << found.error << std::endl;
  if (found.recordings.empty()) {
    if (!how.output.quiet) out << "File open failed!" << std::endl;
    err << "zentrova: " << Printable(c.inputs[0]) << ": no recording found in it" << std::endl;
    return kExitFailed;
  }
  int status = kExitOk;
  bool damaged = !found.error.empty();
  const size_t count = found.recordings.size();
  for (size_t i = 0; i < count; ++i) {
    const FoundRecording& f = found.recordings[i];
    for (const std::string& l : DescribeFound(f, i, count)) err << "zentrova: " << l << std::endl;
    if (Cancel().stop.load()) {
      status = WorseStatus(status, kExitCancelled);
      break;
    }
    JobOptions options = base;
    options.found = &f;
    const std::string output = NumberedName(c.inputs[1], i);
    ConversionJob::LoopResult loop;
    const int one = ConvertWith(how, options, c.inputs[0], output, out, err, &loop, &f.damage);
    status = WorseStatus(status, one);
    if (f.damaged()) damaged = true;
  }
  // A recording that needed recovering is never reported as whole.
  if (damaged && status == kExitOk) status = kExitRecordingShort;
  return status;
}

// One conversion with the recording's clock: the window of --from/--to, and the files that carry
// the clock beside the output (--frame-times, NAME.srt beside an AVI file).
int ConvertWithClock(const Invocation& how, JobOptions options, const std::string& input, const std::string& output,
                     std::ostream& out, std::ostream& err) {
  const TimeOptions& t = how.convert.time;
  WindowRequest request;
  if (auto parsed = ParseWindowRequest(t, request); !parsed) {
    err << "zentrova: " << parsed.reason() << std::endl;
    return kExitUsage;
  }
  TimedRecording timed;
  if (auto opened = timed.Open(input, ClockOffsetMs(t.clockOffsetSeconds), &Cancel().stop); !opened) {
    if (t.windowed() && !Cancel().stop.load()) {
      if (!how.output.quiet) out << "File open failed!" << std::endl;
      err << "zentrova: " << Printable(opened.reason()) << std::endl;
      return kExitFailed;
    }
    return ConvertWith(how, options, input, output, out, err);  // the job says why it does not open
  }
  RecordingClock& clock = *timed.clock;
  options.clock = &clock;
  options.timing = t.timing == "recorded" ? OutputTiming::Recorded : OutputTiming::Rate;
  options.clockTrack = !t.noSubtitles;
  options.burnTime = t.burnTime;
  if (const char* font = std::getenv("ZENTROVA_FONT")) options.burnFont = font;
  if (t.windowed()) {
    const WindowPlacement placed = PlaceWindow(request, *timed.reader, clock, options.window);
    const std::string& why = placed.why;
    switch (placed.fit) {
      case WindowFit::Invalid: err << "zentrova: " << why << std::endl; return kExitUsage;
      case WindowFit::Outside:
        err << "zentrova: " << Printable(input) << ": nothing to convert: " << why << "; nothing was written"
            << std::endl;
        return kExitFailed;
      case WindowFit::Fits: break;
    }
    const FrameWindow& w = *options.window;
    if (!how.output.quiet)
      out << "Frames " << w.first << " to " << w.end - 1 << " of " << clock.frameCount() << ": "
          << RecorderTimeText(clock.FrameTime(w.first), clock.utcOffsetHours()) << " to "
          << RecorderTimeText(clock.FrameTime(w.end - 1) + clock.FrameDuration(w.end - 1), clock.utcOffsetHours())
          << "; decoding starts at frame " << w.decodeFrom << "." << std::endl;
  }
  // Where a window is cut by times the ticks could not give, the user is told how they were placed.
  if (t.windowed() && !clock.fromTicks())
    err << "zentrova: " << Printable(input) << ": the frames are timed evenly from start to end time: "
        << clock.fallbackReason() << std::endl;

  return ConvertWithClockFiles(how, options, input, output, out, err, &clock,
                               [&](const ConversionJob::LoopResult& loop, FrameRate rate) {
                                 return WrittenFrames{JoinedTimeline::OfJob(&clock, options.window, loop.framesWritten, {}),
                                                      loop.framesWritten, rate, loop.repeats};
                               });
}

}  // namespace

int ConvertWithClockFiles(const Invocation& how, const JobOptions& options, const std::string& input,
                          const std::string& output, std::ostream& out, std::ostream& err, RecordingClock* clock,
                          const FramesOfJob& written) {
  ClockFiles beside;
  if (auto planned = beside.Plan(how.convert.time, output, options.format, options.overwrite); !planned) {
    err << "zentrova: " << planned.reason() << std::endl;
    return kExitFailed;
  }
  ConversionJob::LoopResult loop;
  FrameRate rate;
  const int status = ConvertWith(how, options, input, output, out, err, &loop, nullptr, &rate, clock);
  return beside.Write(written(loop, rate), status, err);
}

IdctChoice IdctOf(const std::string& name) {
  if (name == "plain") return IdctChoice::Plain;
  if (name == "vector") return IdctChoice::Vector;
  return IdctChoice::Auto;
}

int RunConvertOne(const Invocation& how, std::ostream& out, std::ostream& err) {
  const ConvertOptions& c = how.convert;
  JobOptions options;
  if (auto usable = ApplyOutputOptions(c.outputChoice, c.join ? c.inputs.back() : c.inputs[1], c.codec, options);
      !usable) {
    err << "zentrova: " << usable.reason() << std::endl;
    return kExitUsage;
  }
  options.idct = IdctOf(c.idct);
  options.textEncoding = c.textEncoding;
  options.threads = c.threads;
  options.overwrite = c.overwrite && !c.neverOverwrite;
  options.cancel = &Cancel().stop;
  if (c.join) return RunConvertJoined(how, options, out, err);
  if (c.recover) {
    if (c.time.windowed()) {
      err << "zentrova: --from, --to and --duration do not combine with --recover" << std::endl;
      return kExitUsage;
    }
    // A recording found by a scan has no clock to time or mark its frames by.
    if (c.time.timing == "recorded" || c.time.burnTime) {
      err << "zentrova: --timing recorded and --burn-time do not combine with --recover" << std::endl;
      return kExitUsage;
    }
    return ConvertRecovered(how, options, out, err);
  }
  return ConvertWithClock(how, options, c.inputs[0], c.inputs[1], out, err);
}

}  // namespace zentrova::cli
