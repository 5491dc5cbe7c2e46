#include "cli/BatchConvert.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "avi/AviReader.h"
#include "cli/ClockFiles.h"
#include "cli/PinnedPath.h"
#include "cli/ReportFiles.h"
#include "cli/Signals.h"
#include "cli/Timeline.h"
#include "recording/TimedRecording.h"

namespace zentrova::cli::batch {

namespace {

// Converts an item whose output (and input, when its path is too long to open) is named through
// its open folder (`folder`); `shown` names them by their own paths, and `show` rewrites a line
// to do so.
Row ConvertPinned(const Plan& plan, int folder, const BatchItem& shown,
                  const std::function<std::string(const std::string&)>& show, const ConvertOptions& c,
                  unsigned threads, Shared& shared) {
  Row row = plan.row;
  row.codec = c.codec;
  const auto begin = Clock::now();
  auto fail = [&](std::string reason) {
    row.status = "failed";
    row.exitStatus = kExitFailed;
    row.reason = std::move(reason);
    row.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return row;
  };
  // An output that appeared since the planning (another batch into the same folder) is looked at
  // again: complete, it is skipped; in progress, left alone.
  struct stat st {};
  if (!plan.replace && ::lstat(plan.item.output.c_str(), &st) == 0) {
    Plan again = PlanItem(plan.item, c);
    if (!again.convert) return again.row;
    return ConvertPinned(again, folder, shown, show, c, threads, shared);
  }

  JobOptions options;
  if (auto usable = ApplyOutputOptions(c.outputChoice, plan.item.output, c.codec, options); !usable)
    return fail(usable.reason());
  options.idct = IdctOf(c.idct);
  options.textEncoding = c.textEncoding;
  options.overwrite = plan.replace || c.overwrite;
  options.threads = threads;
  options.cancel = &Cancel().cutShort;
  options.found = plan.found.get();
  options.window = plan.window;
  // The recording's clock, on a reader of its own, for what the output carries of it.
  TimedRecording timed;
  const bool wantsClock = c.time.burnTime || c.time.timing == "recorded" || !c.time.noSubtitles;
  if (wantsClock && !plan.found && timed.Open(plan.item.input, ClockOffsetMs(c.time.clockOffsetSeconds), &Cancel().cutShort)) {
    options.clock = timed.clock.get();
    options.timing = c.time.timing == "recorded" ? OutputTiming::Recorded : OutputTiming::Rate;
    options.clockTrack = !c.time.noSubtitles;
  }
  // Beside an AVI output, NAME.srt of its frames' clock times, as a single conversion writes it.
  ClockFiles beside;
  const bool besideWritten = options.clock && beside.Plan(c.time, plan.item.output, options.format, options.overwrite);
  options.burnTime = c.time.burnTime;
  if (const char* font = std::getenv("ZENTROVA_FONT")) options.burnFont = font;
  options.outputFolder = folder;
  ReportRecorder report(c.report, plan.item.input, plan.item.output, c, options);
  report.ShowAs(shown.input, shown.output, show);
  if (plan.found) report.Damage(plan.found->damage);
  // The row's log is the report's; a report that cannot be written fails the recording.
  auto reported = [&](Row done) {
    for (const std::string& line : done.log) report.Line(line);
    std::ostringstream problem;
    const int status = report.Finish(done.exitStatus, problem);
    if (const ConversionReport* written = report.report()) {
      done.reported.inputFile = written->input;
      done.reported.outputFile = written->output;
      done.reported.hashed = true;
      if (status == done.exitStatus) done.reported.report = ReportPath(written->output.path, "json");
    }
    if (status != done.exitStatus) {
      done.exitStatus = status;
      done.status = "failed";
      done.reason = problem.str();
      while (!done.reason.empty() && done.reason.back() == '\n') done.reason.pop_back();
    }
    return done;
  };
  // Another batch into the same folder can take a free name between the look above and this
  // conversion's opening or first frame (when the output takes its name). Its file is then the
  // output: looked at again, it is skipped when complete and left alone while in progress.
  auto TakenMeanwhile = [&]() -> std::optional<Row> {
    struct stat now {};
    if (plan.replace || ::lstat(plan.item.output.c_str(), &now) != 0) return std::nullopt;
    Plan again = PlanItem(plan.item, c);
    if (again.convert) return std::nullopt;
    return again.row;
  };
  std::vector<std::string> diagnostics;
  ConversionJob job([&](const std::string& line) { row.log.push_back(line); },
                    [&](const std::string& m) {
                      row.log.push_back(m);
                      diagnostics.push_back(m);
                    },
                    options,
                    [&](const std::string& m) {
                      row.log.push_back(m);
                      diagnostics.push_back(m);
                    });
  if (report.blocked()) return reported(fail("the report of an earlier conversion is beside the output"));
  avi::CompressOptions chosen{c.codec, c.quality};
  const auto setup = job.Convert(plan.item.input, plan.item.output, [&] { return std::optional(chosen); });
  if (setup == ConversionJob::Setup::Cancelled) {
    fail("cancelled before the conversion started");
    row.exitStatus = kExitCancelled;
    row.cancelled = true;
    return reported(row);
  }
  if (setup != ConversionJob::Setup::Started) {
    if (std::optional<Row> taken = TakenMeanwhile()) return reported(*taken);
    std::string reason = row.log.empty() ? "the conversion did not start" : row.log.back();
    if (!diagnostics.empty()) reason = diagnostics.back();
    return reported(fail(reason));
  }
  const double fps = job.rate().rate.fps();
  const uint64_t microsPerFrame = static_cast<uint64_t>(1e6 / (fps > 0 ? fps : 1));
  const ConversionJob::LoopResult result =
      job.RunFrameLoop(&Cancel().cutShort, [&](uint32_t, uint32_t) {
        shared.framesDone.fetch_add(1, std::memory_order_relaxed);
        shared.videoMicros.fetch_add(microsPerFrame, std::memory_order_relaxed);
      });
  job.Finish();
  report.Loop(result, job.rate());
  // A recording found by recovery has no block chain to time its frames by.
  if (!plan.found) report.GapsOfRecording(plan.window ? plan.window->first : 0);
  if (besideWritten) {
    std::stringstream said;
    beside.Write(WrittenFrames{JoinedTimeline::OfJob(options.clock, options.window, result.framesWritten, {}),
                               result.framesWritten, job.rate().rate, result.repeats},
                 kExitOk, said);
    for (std::string line; std::getline(said, line);) row.log.push_back(line.substr(line.rfind("zentrova: ", 0) == 0 ? 10 : 0));
  }
  row.framesWritten = result.framesWritten;
  row.framesDeclared = result.framesDeclared;
  row.cancelled = result.cancelled;
  JobOutcome outcome = result.outcome;
  if (outcome == JobOutcome::WriteFailed && result.framesWritten <= 1)
    if (std::optional<Row> taken = TakenMeanwhile()) return reported(*taken);
  // A recording that yields fewer frames than it declares is not complete, whatever the job says.
  if (outcome == JobOutcome::Saved && result.framesWritten < result.framesDeclared) {
    outcome = JobOutcome::RecordingShort;
    row.reason = "The recording ended after " + std::to_string(result.framesWritten) + " of " +
                 std::to_string(result.framesDeclared) + " frames.";
  }
  // A recording that had to be recovered is never reported as whole.
  if (outcome == JobOutcome::Saved && plan.found && plan.found->damaged()) {
    outcome = JobOutcome::RecordingShort;
    const FoundRecording& f = *plan.found;
    row.reason = "recovered from a damaged file: " +
                 (!f.damage.empty() ? f.damage.front().what
                                    : !f.notes.empty() ? f.notes.front() : std::string("its block chain was damaged"));
  }
  row.exitStatus = ExitStatusOf(outcome);
  row.status = outcome == JobOutcome::Saved ? "ok" : "partial";
  if (outcome != JobOutcome::Saved && row.reason.empty())
    row.reason = !result.reason.empty() ? result.reason
                                        : std::to_string(result.framesWritten) + " of " +
                                              std::to_string(result.framesDeclared) + " frames saved";
  const avi::AviProbe probe = avi::ProbeAvi(plan.item.output);
  row.bytes = probe.bytes;
  row.rate = job.rate().rate.fps();  // the rate the file carries
  row.fourcc = probe.isAvi ? avi::FourCCText(probe.fourcc) : "";
  row.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  return reported(row);
}

}  // namespace

Row ConvertItem(const Plan& plan, int outDir, const ConvertOptions& c, unsigned threads, Shared& shared) {
  Expected<PinnedPath> madeBelow = PinnedPath::MakeBelow(outDir, c.outDir, plan.item.output);
  if (!madeBelow) {
    Row row = plan.row;
    row.codec = c.codec;
    row.status = "failed";
    row.exitStatus = kExitFailed;
    row.reason = madeBelow.reason();
    return row;
  }
  const PinnedPath output = std::move(madeBelow).value();
  PinnedPath input;
  Plan pinned = plan;
  pinned.item.output = output.path();
  if (plan.item.input.size() >= PATH_MAX) {
    if (Expected<PinnedPath> found = PinnedPath::Find(plan.item.input)) {
      input = std::move(found).value();
      pinned.item.input = input.path();
    }
  }
  // The rows, their lines and the report name the files by their own paths.
  const auto show = [&](const std::string& text) { return input.Shown(output.Shown(text)); };
  Row row = ConvertPinned(pinned, output.folder(), plan.item, show, c, threads, shared);
  row.input = plan.item.input;
  if (!row.output.empty()) row.output = plan.item.output;
  row.reason = show(row.reason);
  for (std::string& line : row.log) line = show(line);
  return row;
}

}  // namespace zentrova::cli::batch
