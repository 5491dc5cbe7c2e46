// convert INPUT... -o OUTDIR: many recordings, several at once, a row per recording as it
// finishes, a summary at the end.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string_view>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "avi/AviFile.h"
#include "cli/AviProbe.h"
#include "cli/BatchScan.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/PinnedPath.h"
#include "cli/Progress.h"
#include "cli/RecoveryReport.h"
#include "cli/ReportFiles.h"
#include "cli/Signals.h"
#include "cli/Timeline.h"
#include "cli/TimeWindow.h"
#include "recording/TimedRecording.h"
#include "recording/ZrReader.h"

namespace zentrova::cli {
namespace {

using Clock = std::chrono::steady_clock;

// One recording's result: a JSON row, a line on a pipe, an entry in the summary.
struct Row {
  std::string input, output;
  std::string status;  // ok, skipped, partial, failed
  int exitStatus = kExitOk;
  bool cancelled = false;
  bool haveRecording = false;
  uint32_t framesWritten = 0, framesDeclared = 0;
  int32_t startTime = 0, endTime = 0;
  double rate = 0;
  std::string codec, fourcc;
  uint64_t bytes = 0;
  double seconds = 0;
  std::string reason;
  std::vector<std::string> log;  // the job's log lines and diagnostics, shown with -v
};

// What the scan and the look at the recording decided for one item.
struct Plan {
  BatchItem item;
  Row row;               // filled in when the item is settled before converting
  bool convert = false;  // otherwise `row` is final
  bool replace = false;  // an existing output is replaced
  // --recover: the recording of the input that this output is made of, as the scan found it.
  std::shared_ptr<const FoundRecording> found;
  // --from/--to: this recording's part of the window.
  std::optional<FrameWindow> window;
};

Plan PlanItem(const BatchItem& item, const ConvertOptions& c,
              std::shared_ptr<const FoundRecording> found = nullptr) {
  Plan plan;
  plan.item = item;
  plan.found = found;
  Row& row = plan.row;
  row.input = item.input;
  row.output = item.output;
  auto fail = [&](std::string reason) {
    row.status = "failed";
    row.exitStatus = kExitFailed;
    row.reason = std::move(reason);
    return plan;
  };
  if (!item.failure.empty()) {
    row.output.clear();
    return fail(item.failure);
  }
  // A path longer than the system takes in one call is read through its open folder.
  PinnedPath longInput;
  std::string input = item.input;
  if (input.size() >= PATH_MAX) {
    std::string why;
    longInput = PinnedPath::Find(input, &why);
    if (!longInput.ok()) {
      row.output.clear();
      return fail(why);
    }
    input = longInput.path();
  }
  ZrReader reader;
  reader.setCancelFlag(&Cancel().stop);
  std::string fileError;
  reader.setFileErrorSink([&](const std::string& m) { fileError = m; });
  RecordingInfo info;
  const int opened = found ? reader.openFound(input, *found, &info) : reader.open(input, &info, 0, 1);
  if (!opened) {
    row.output.clear();
    fail(reader.failureReason().empty() ? fileError : reader.failureReason());
    if (Cancel().stop.load()) row.exitStatus = kExitCancelled;
    return plan;
  }
  row.haveRecording = true;
  row.framesDeclared = static_cast<uint32_t>(reader.frameCount());
  row.startTime = reader.startTime();
  row.endTime = reader.endTime();
  if (c.time.windowed()) {
    // Each recording gives the part of the window its clock covers; one outside it is skipped.
    WindowRequest request;
    std::string why;
    ParseWindowRequest(c.time, request, &why);  // checked before the batch began
    const std::unique_ptr<RecordingClock> clock = ClockOfReader(reader, ClockOffsetMs(c.time.clockOffsetSeconds));
    switch (PlaceWindow(request, reader, *clock, plan.window, &why)) {
      case WindowFit::Invalid: return fail(why);
      case WindowFit::Outside:
        row.status = "skipped";
        row.reason = "outside the window: " + why;
        row.output.clear();
        return plan;
      case WindowFit::Fits: row.framesDeclared = plan.window->frames(); break;
    }
  }
  reader.close();

  struct stat st {};
  if (::lstat(item.output.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return fail("the output exists and is not a regular file");
    // Another batch's file in progress is not a partial output of ours.
    if (avi::IsBeingWritten(item.output))
      return fail("the output is being written by another conversion running now; rerun when it has finished");
    // An empty file at the output name is what a conversion killed before it wrote anything left
    // (earlier versions created the output at once): redone like a partial output.
    const bool empty = st.st_size == 0;
    const std::string extension = OutputExtension(c);
    if (extension != ".avi") {
      if (c.neverOverwrite) return fail("the output exists; -n keeps it");
      if (!c.overwrite && !empty && !StartsLikeContainer(item.output, extension))
        return fail("the output exists and is not a " + extension.substr(1) + " file; -y replaces it");
      plan.replace = true;
      plan.convert = true;
      return plan;
    }
    const AviProbe probe = ProbeAvi(item.output);
    const bool complete = probe.finished && probe.frames == row.framesDeclared;
    if (complete && !c.overwrite) {
      row.status = "skipped";
      row.reason = "the output is complete";
      row.framesWritten = probe.frames;
      row.rate = probe.rate;
      row.fourcc = FourCCText(probe.fourcc);
      row.bytes = probe.bytes;
      return plan;
    }
    if (c.neverOverwrite) return fail("the output exists and is not complete; -n keeps it");
    if (!probe.isAvi && !empty && !c.overwrite)
      return fail("the output exists and is not an AVI file; -y replaces it");
    plan.replace = true;
  }
  plan.convert = true;
  return plan;
}

// The figures the workers update and the reporting thread reads.
struct Shared {
  std::atomic<uint64_t> framesDone{0};
  std::atomic<uint64_t> videoMicros{0};
  std::atomic<uint32_t> filesDone{0};
  std::atomic<size_t> next{0};
  std::atomic<size_t> started{0};
  std::atomic<int> running{0};
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Row> finished;
  std::vector<std::string> inWork;  // one slot per worker
};

// Converts an item whose output (and input, when its path is too long to open) is named through
// its open folder (`folder`).
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
  std::string unusable;
  if (!ApplyOutputOptions(c.outputChoice, plan.item.output, c.codec, options, &unusable)) return fail(unusable);
  options.idct = IdctOf(c.idct);
  options.textEncoding = c.textEncoding;
  options.overwrite = plan.replace || c.overwrite;
  options.threads = threads;
  options.cancel = &Cancel().cutShort;
  options.found = plan.found.get();
  options.window = plan.window;
  options.outputFolder = folder;
  ReportRecorder report(c.report, plan.item.input, plan.item.output, c, options);
  report.ShowAs(shown.input, shown.output, show);
  if (plan.found) report.Damage(plan.found->damage);
  // The row's log is the report's; a report that cannot be written fails the recording.
  auto reported = [&](Row done) {
    for (const std::string& line : done.log) report.Line(line);
    std::ostringstream problem;
    const int status = report.Finish(done.exitStatus, problem);
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
  const AviProbe probe = ProbeAvi(plan.item.output);
  row.bytes = probe.bytes;
  row.rate = job.rate().rate.fps();  // the rate the file carries
  row.fourcc = probe.isAvi ? FourCCText(probe.fourcc) : "";
  row.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  return reported(row);
}

// Converts an item inside the open output folder `outDir`: the output's folder is opened (made
// where missing) one component at a time without following links, and the output written
// through it, so a folder or a name swapped for a link meanwhile never leads a write outside the
// output folder, and paths longer than the system takes in one call work.
Row ConvertItem(const Plan& plan, int outDir, const ConvertOptions& c, unsigned threads, Shared& shared) {
  std::string why;
  const PinnedPath output = PinnedPath::MakeBelow(outDir, c.outDir, plan.item.output, &why);
  if (!output.ok()) {
    Row row = plan.row;
    row.codec = c.codec;
    row.status = "failed";
    row.exitStatus = kExitFailed;
    row.reason = why;
    return row;
  }
  PinnedPath input;
  Plan pinned = plan;
  pinned.item.output = output.path();
  if (plan.item.input.size() >= PATH_MAX) {
    input = PinnedPath::Find(plan.item.input, &why);
    if (input.ok()) pinned.item.input = input.path();
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

std::string JsonRow(const Row& r) {
  JsonObject o;
  o.AddPath("input", r.input);
  if (r.output.empty()) o.AddNull("output");
  else o.AddPath("output", r.output);
  o.Add("status", r.status).Add("exitStatus", r.exitStatus);
  o.Add("framesWritten", r.framesWritten).Add("framesDeclared", r.framesDeclared);
  if (r.haveRecording) {
    o.Add("duration", static_cast<uint32_t>(r.endTime) - static_cast<uint32_t>(r.startTime));
    o.Add("recordingStart", Iso8601Utc(r.startTime)).Add("recordingEnd", Iso8601Utc(r.endTime));
  } else {
    o.AddNull("duration");
  }
  if (r.rate > 0) o.AddNumber("rate", r.rate, 3);
  else o.AddNull("rate");
  if (r.codec.empty()) o.AddNull("codec");
  else o.Add("codec", r.codec);
  if (!r.fourcc.empty()) o.Add("fourcc", r.fourcc);
  o.Add("bytes", r.bytes).AddNumber("seconds", r.seconds, 3);
  o.Add("finished", Iso8601Utc(std::time(nullptr)));
  if (r.status != "ok") o.Add("reason", r.reason);
  return o.Text();
}

// The reason without the recording's name in front, which the row shows already.
std::string ReasonAfterName(const Row& r) {
  const std::string lead = r.input + ": ";
  return r.reason.compare(0, lead.size(), lead) == 0 ? r.reason.substr(lead.size()) : r.reason;
}

std::string TextRow(const Row& r) {
  char figures[96];
  if (r.status == "ok") {
    std::snprintf(figures, sizeof figures, " (%u frames, %.1f s)", r.framesWritten, r.seconds);
    return "converted " + Printable(r.input) + " -> " + Printable(r.output) + figures;
  }
  if (r.status == "skipped" && r.output.empty()) return "skipped   " + Printable(r.input) + ": " + Printable(r.reason);
  if (r.status == "skipped") {
    std::snprintf(figures, sizeof figures, " (%u frames)", r.framesWritten);
    return "skipped   " + Printable(r.input) + ": " + Printable(r.output) + " is complete" + figures;
  }
  if (r.status == "partial") {
    std::snprintf(figures, sizeof figures, " (%u of %u frames)", r.framesWritten, r.framesDeclared);
    return "partial   " + Printable(r.input) + " -> " + Printable(r.output) + figures + ": " + ReasonAfterName(r);
  }
  return "failed    " + Printable(r.input) + ": " + ReasonAfterName(r);
}

// The process id in the name of a temporary output file (".zentrova-PID-..."), 0 when the name
// is not one.
long TemporaryOwner(const std::string& name) {
  constexpr std::string_view kPrefix = ".zentrova-";
  if (name.compare(0, kPrefix.size(), kPrefix) != 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(name.c_str() + kPrefix.size(), &end, 10);
  return pid > 0 && end && *end == '-' ? pid : 0;
}

// Removes the temporary output files in `folder` that a killed conversion left behind. A live
// conversion's is locked while it is written (on this host or, through the file system's locks,
// another) and stays.
void RemoveLeftTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    if (TemporaryOwner(e->d_name) <= 0) continue;
    const std::string path = folder + "/" + e->d_name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || avi::IsBeingWritten(path)) continue;
    ::unlink(path.c_str());
  }
  ::closedir(dir);
}

}  // namespace

int RunBatch(const Invocation& how, std::ostream& out, std::ostream& err) {
  const ConvertOptions& c = how.convert;
  const OutputOptions& o = how.output;
  const auto batchStart = Clock::now();

  const auto compressors = avi::ListCompressors();
  const auto known = std::find_if(compressors.begin(), compressors.end(), [&](const auto& k) { return k.name == c.codec; });
  if (known == compressors.end() || !known->available) {
    std::string names;
    for (const auto& k : compressors)
      if (k.available) names += (names.empty() ? "" : ", ") + k.name;
    err << "zentrova: " << (known == compressors.end() ? "unknown codec " : "codec not available here: ")
        << Printable(c.codec) << " (available: " << names << ")\n";
    return kExitUsage;
  }

  if (c.time.windowed()) {
    WindowRequest request;
    std::string problem;
    if (c.recover) problem = "--from, --to and --duration do not combine with --recover";
    if (problem.empty() && !ParseWindowRequest(c.time, request, &problem)) problem = problem.empty() ? "bad window" : problem;
    if (!problem.empty()) {
      err << "zentrova: " << problem << "\n";
      return kExitUsage;
    }
  }

  if (c.recover) {
    ScanOptions options;
    std::string problem;
    if (!ScanOptionsOf(c, options, &problem)) {
      err << "zentrova: " << problem << "\n";
      return kExitUsage;
    }
  }

  {
    JobOptions probe;
    std::string unusable;
    if (!ApplyOutputOptions(c.outputChoice, "recording" + OutputExtension(c), c.codec, probe, &unusable)) {
      err << "zentrova: " << unusable << "\n";
      return kExitUsage;
    }
  }

  std::error_code ec;
  std::filesystem::create_directories(c.outDir, ec);
  if (ec || !std::filesystem::is_directory(c.outDir, ec)) {
    err << "zentrova: cannot create the output folder " << Printable(c.outDir)
        << (ec ? ": " + ec.message() : ": it exists and is not a folder") << "\n";
    return kExitFailed;
  }

  // Every output is made inside this folder, held open for the whole batch.
  const int outDir = ::open(c.outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (outDir < 0) {
    err << "zentrova: cannot open the output folder " << Printable(c.outDir) << ": " << std::strerror(errno) << "\n";
    return kExitFailed;
  }
  struct CloseAtEnd {
    int fd;
    ~CloseAtEnd() { ::close(fd); }
  } closeOutDir{outDir};

  const BatchScan scan = ScanInputs(c.inputs, c.outDir, OutputExtension(c), &Cancel().stop);
  if (scan.cancelled) {
    err << "zentrova: cancelled while searching for recordings; nothing was converted\n";
    return kExitCancelled;
  }
  if (o.verbose)
    for (const std::string& note : scan.notes) (o.json ? err : out) << "zentrova: " << note << "\n";
  if (scan.items.empty()) {
    err << "zentrova: no recordings (.zr, .zrx) found\n";
    return kExitFailed;
  }

  std::vector<Row> rows;
  std::vector<Plan> todo;
  uint64_t framesTotal = 0;
  ProgressLine line(err, how.errIsTerminal && !o.noProgress && !o.quiet);
  std::ostream& info = o.json ? err : out;  // where the summary and -v lines go

  auto report = [&](const Row& r) {
    line.Clear();
    if (o.verbose)
      for (const std::string& l : r.log) info << Printable(r.input) << ": " << Printable(l) << "\n";
    if (o.json) out << JsonRow(r) << "\n";
    if (r.status == "failed" || r.status == "partial")
      err << "zentrova: " << Printable(r.input) << ": " << Printable(ReasonAfterName(r)) << "\n";
    if (!o.json && !o.quiet && r.status != "failed") out << TextRow(r) << "\n";
    out.flush();
    rows.push_back(r);
  };

  auto lastDraw = Clock::now();
  size_t notPlanned = 0;  // left unlooked-at by a cancel
  for (size_t i = 0; i < scan.items.size(); ++i) {
    if (Cancel().stop.load()) {
      notPlanned = scan.items.size() - i;
      break;
    }
    if (line.enabled() && Clock::now() - lastDraw > std::chrono::milliseconds(250)) {
      lastDraw = Clock::now();
      line.Draw("checking the recordings and outputs: " + std::to_string(i) + "/" + std::to_string(scan.items.size()));
    }
    const BatchItem& item = scan.items[i];
    std::vector<Plan> plans;
    if (c.recover && item.failure.empty()) {
      // Every recording the file holds, each an output of its own: NAME.avi, NAME-2.avi, ...
      ScanOptions options;
      std::string problem;
      ScanOptionsOf(c, options, &problem);  // checked before the batch began
      options.cancel = &Cancel().stop;
      ScanResult found = ScanRecordingFile(item.input, options);
      if (found.recordings.empty()) {
        Row row;
        row.input = item.input;
        row.status = "failed";
        row.exitStatus = Cancel().stop.load() ? kExitCancelled : kExitFailed;
        row.reason = found.error.empty() ? "no recording found in it" : found.error;
        report(row);
        continue;
      }
      for (size_t k = 0; k < found.recordings.size(); ++k) {
        BatchItem numbered = item;
        numbered.output = NumberedName(item.output, k);
        plans.push_back(
            PlanItem(numbered, c, std::make_shared<const FoundRecording>(std::move(found.recordings[k]))));
      }
    } else {
      plans.push_back(PlanItem(item, c));
    }
    for (Plan& plan : plans) {
      if (!plan.convert) {
        report(plan.row);
        continue;
      }
      framesTotal += plan.row.framesDeclared;
      todo.push_back(std::move(plan));
    }
  }

  // What a killed conversion left beside the outputs goes; what a live one writes stays.
  {
    std::set<std::string> folders{c.outDir};
    for (const Plan& p : todo) {
      const size_t slash = p.item.output.rfind('/');
      if (slash != std::string::npos) folders.insert(p.item.output.substr(0, slash));
    }
    for (const std::string& folder : folders) RemoveLeftTemporaries(folder);
  }

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned jobs = std::max<unsigned>(1, std::min<size_t>(c.jobs ? c.jobs : cores, std::max<size_t>(1, todo.size())));
  const unsigned threadsEach = c.threads ? c.threads : std::max(1u, cores / jobs);

  Shared shared;
  shared.inWork.assign(jobs, "");
  std::vector<std::thread> workers;
  if (!todo.empty()) {
    shared.running = static_cast<int>(jobs);
    for (unsigned w = 0; w < jobs; ++w)
      workers.emplace_back([&, w] {
        for (;;) {
          if (Cancel().stop.load()) break;
          const size_t index = shared.next.fetch_add(1);
          if (index >= todo.size()) break;
          shared.started.fetch_add(1);
          {
            std::lock_guard lock(shared.mutex);
            shared.inWork[w] = Printable(todo[index].item.input);
          }
          Row row = ConvertItem(todo[index], outDir, c, threadsEach, shared);
          {
            std::lock_guard lock(shared.mutex);
            shared.inWork[w].clear();
            shared.finished.push_back(std::move(row));
          }
          shared.filesDone.fetch_add(1);
          shared.wake.notify_one();
        }
        {
          std::lock_guard lock(shared.mutex);
          --shared.running;
        }
        shared.wake.notify_one();
      });
  }

  bool toldStop = false, toldCut = false;
  for (;;) {
    std::deque<Row> ready;
    std::string current;
    bool done = false;
    {
      std::unique_lock lock(shared.mutex);
      shared.wake.wait_for(lock, std::chrono::milliseconds(250),
                           [&] { return !shared.finished.empty() || shared.running == 0; });
      ready.swap(shared.finished);
      done = shared.running == 0 && shared.finished.empty();
      size_t busy = 0;
      for (const std::string& name : shared.inWork)
        if (!name.empty()) {
          if (current.empty()) current = name;
          ++busy;
        }
      if (busy > 1) current += " (+" + std::to_string(busy - 1) + ")";
    }
    for (const Row& r : ready) report(r);
    if (Cancel().stop.load() && !toldStop && !todo.empty()) {
      toldStop = true;
      line.Clear();
      err << "zentrova: stopping: the conversions in progress finish, no new one starts"
          << " (Ctrl-C again to cut them short)\n";
    }
    if (Cancel().cutShort.load() && !toldCut && !todo.empty()) {
      toldCut = true;
      line.Clear();
      err << "zentrova: cutting the conversions in progress short; their files keep the frames so far\n";
    }
    if (done) break;
    ProgressFigures f;
    f.batch = true;
    f.framesDone = shared.framesDone.load();
    f.framesTotal = framesTotal;
    f.videoSeconds = shared.videoMicros.load() / 1e6;
    f.elapsed = std::chrono::duration<double>(Clock::now() - batchStart).count();
    f.filesDone = shared.filesDone.load();
    f.filesTotal = static_cast<uint32_t>(todo.size());
    f.current = current;
    line.Draw(ProgressText(f, line.width()));
  }
  for (std::thread& t : workers) t.join();
  line.Clear();

  // The summary and the status.
  const size_t notStarted = todo.size() - std::min(todo.size(), shared.started.load()) + notPlanned;
  size_t converted = 0, skipped = 0, partial = 0, failed = 0;
  uint64_t frames = 0;
  double videoSeconds = shared.videoMicros.load() / 1e6;
  int status = kExitOk;
  bool cutShort = false;
  for (const Row& r : rows) {
    if (r.status == "ok") ++converted;
    else if (r.status == "skipped") ++skipped;
    else if (r.status == "partial") ++partial;
    else ++failed;
    if (r.status != "skipped") frames += r.framesWritten;
    cutShort = cutShort || r.cancelled;
    status = WorseStatus(status, r.exitStatus);
  }
  if (notStarted > 0 || cutShort) status = WorseStatus(status, kExitCancelled);
  const double elapsed = std::chrono::duration<double>(Clock::now() - batchStart).count();
  if (!o.quiet) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%zu converted, %zu skipped, %zu partial, %zu failed", converted, skipped, partial,
                  failed);
    info << "Summary: " << buf;
    if (notStarted) info << ", " << notStarted << " not started (stopped)";
    info << " (" << rows.size() + notStarted << " recordings)\n";
    std::snprintf(buf, sizeof buf, "Frames: %llu in %.1f s (%.0f frames/s, %.2fx real time), %u at once\n",
                  static_cast<unsigned long long>(frames), elapsed, elapsed > 0 ? frames / elapsed : 0.0,
                  elapsed > 0 ? videoSeconds / elapsed : 0.0, jobs);
    info << buf;
    for (const Row& r : rows)
      if (r.status == "failed" || r.status == "partial")
        info << "  " << r.status << ": " << Printable(r.input) << ": " << r.reason << "\n";
  }
  return status;
}

}  // namespace zentrova::cli
