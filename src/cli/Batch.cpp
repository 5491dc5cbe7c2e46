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
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "avi/AviFile.h"
#include "cli/BatchConvert.h"
#include "cli/BatchPlan.h"
#include "cli/BatchRows.h"
#include "cli/BatchScan.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
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

using namespace batch;

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

// Refuses what the whole batch could not use: an unknown codec, a bad window, bad --recover
// settings, output options the codec does not take. kExitOk when the batch may go on.
int RefuseOptions(const ConvertOptions& c, std::ostream& err) {
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
    if (problem.empty()) {
      if (auto parsed = ParseWindowRequest(c.time, request); !parsed) problem = parsed.reason();
    }
    if (!problem.empty()) {
      err << "zentrova: " << problem << "\n";
      return kExitUsage;
    }
  }

  // A recording found by a scan has no clock to time or mark its frames by.
  if (c.recover && (c.time.timing == "recorded" || c.time.burnTime)) {
    err << "zentrova: --timing recorded and --burn-time do not combine with --recover\n";
    return kExitUsage;
  }
  // One file of frame times for one output: a batch has many.
  if (!c.time.frameTimes.empty()) {
    err << "zentrova: --frame-times does not combine with -o OUTDIR: it names the file of one output\n";
    return kExitUsage;
  }

  if (c.recover) {
    ScanOptions options;
    if (auto usable = ScanOptionsOf(c, options); !usable) {
      err << "zentrova: " << usable.reason() << "\n";
      return kExitUsage;
    }
  }

  {
    JobOptions probe;
    if (auto usable = ApplyOutputOptions(c.outputChoice, "recording" + OutputExtension(c), c.codec, probe); !usable) {
      err << "zentrova: " << usable.reason() << "\n";
      return kExitUsage;
    }
  }
  return kExitOk;
}

}  // namespace

int RunBatch(const Invocation& how, std::ostream& out, std::ostream& err) {
  const ConvertOptions& c = how.convert;
  const OutputOptions& o = how.output;
  const auto batchStart = Clock::now();
  const int64_t startedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  if (const int refused = RefuseOptions(c, err); refused != kExitOk) return refused;

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
      (void)ScanOptionsOf(c, options);  // checked before the batch began
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
  const int status = Summarise(rows, notStarted, shared.videoMicros.load() / 1e6, batchStart, jobs, o.quiet, info);
  if (!c.report) return status;
  return WriteSummaryReport(c, rows, notStarted, startedMs, status, o.quiet ? nullptr : &info, err);
}

}  // namespace zentrova::cli
