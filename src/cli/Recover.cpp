// recover INPUT... -o OUTDIR: finds the recordings in damaged files, disk images or devices (read
// only) and writes each as a repaired recording, OUTDIR/<name>[-N].zr; a report of what was found
// on standard error, or one JSON object per recording with --json.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/RecoveryReport.h"
#include "cli/Signals.h"
#include "recording/RecordingRepair.h"
#include "recording/ZrFormat.h"

namespace zentrova::cli {

Expected<void> ScanOptionsOf(const ConvertOptions& c, ScanOptions& scan) {
  if (!c.size.empty()) {
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(c.size.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w <= 0 || h <= 0) {
      return Failure("--size takes WIDTHxHEIGHT, such as 352x288; not \"" + c.size + "\"");
    }
    bool known = false;
    for (int code = 0; code < 256; ++code) {
      const auto size = SizeOfResolutionCode(static_cast<uint8_t>(code));
      if (size && size->width == w && size->height == h) known = true;
    }
    if (!known) {
      return Failure("--size " + c.size +
                     " is not a picture size of the recorder (160x112, 240x176, 320x240, 640x240, "
                     "176x144, 256x192, 352x288, 704x288)");
    }
    scan.width = w;
    scan.height = h;
  }
  if (c.generation == "older") scan.generation = kGenerationOlder;
  if (c.generation == "newer") scan.generation = kGenerationNewer;
  return {};
}

int RunRecover(const Invocation& how, std::ostream& out, std::ostream& err) {
  const ConvertOptions& c = how.convert;
  ScanOptions scan;
  if (auto usable = ScanOptionsOf(c, scan); !usable) {
    err << "zentrova: " << usable.reason() << "\n";
    return kExitUsage;
  }
  scan.cancel = &Cancel().stop;
  std::error_code ec;
  if (!c.listOnly) std::filesystem::create_directories(c.outDir, ec);
  struct stat folder {};
  if (!c.listOnly && (::stat(c.outDir.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))) {
    err << "zentrova: cannot use " << Printable(c.outDir) << " as the output folder"
        << (ec ? ": " + ec.message() : std::string()) << "\n";
    return kExitFailed;
  }
  const bool overwrite = c.overwrite && !c.neverOverwrite;
  int status = kExitOk;
  // Names written in this run: a second input of the same name numbers on after them instead of
  // replacing them.
  std::set<std::string> written;
  for (const std::string& input : c.inputs) {
    if (Cancel().stop.load()) {
      status = WorseStatus(status, kExitCancelled);
      break;
    }
    struct stat in {};
    if (::stat(input.c_str(), &in) != 0 || !(S_ISREG(in.st_mode) || S_ISBLK(in.st_mode))) {
      err << "zentrova: " << Printable(input) << ": not a file or a block device\n";
      status = WorseStatus(status, kExitFailed);
      continue;
    }
    const ScanResult found = ScanWithProgress(how, input, scan, err);
    if (!found.error.empty()) err << "zentrova: " << Printable(input) << ": " << found.error << "\n";
    if (found.cancelled) {
      err << "zentrova: " << Printable(input) << ": scan cancelled; " << found.recordings.size()
          << " recordings found so far (the last perhaps in part), none written\n";
      for (size_t i = 0; i < found.recordings.size(); ++i)
        for (const std::string& l : DescribeFound(found.recordings[i], i, found.recordings.size()))
          err << "zentrova: " << l << "\n";
      status = WorseStatus(status, kExitCancelled);
      break;
    }
    if (found.recordings.empty()) {
      err << "zentrova: " << Printable(input) << ": no recording found\n";
      if (how.output.json)
        out << JsonObject().AddPath("input", input).Add("status", "failed").Add("exitStatus", int32_t{kExitFailed})
                   .Add("reason", "no recording found").Text()
            << "\n";
      status = WorseStatus(status, kExitFailed);
      continue;
    }
    const std::string stem = std::filesystem::path(input).stem().string();
    const std::string base = (std::filesystem::path(c.listOnly ? "." : c.outDir) / (stem + ".zr")).string();
    const size_t count = found.recordings.size();
    for (size_t i = 0; i < count; ++i) {
      const FoundRecording& f = found.recordings[i];
      std::string output = NumberedName(base, i);
      for (size_t n = i + 1; written.count(output); ++n) output = NumberedName(base, n);
      if (!c.listOnly) written.insert(output);
      if (!how.output.json && !how.output.quiet) {
        err << "zentrova: " << Printable(input) << ": ";
        const auto lines = DescribeFound(f, i, count);
        for (size_t k = 0; k < lines.size(); ++k) err << (k ? "zentrova: " : "") << lines[k] << "\n";
      }
      struct stat existing {};
      RepairResult repaired;
      if (c.listOnly) {
        const int one = f.damaged() ? kExitRecordingShort : kExitOk;
        if (how.output.json) out << FoundJson(input, f, i, {}, f.damaged() ? "damaged" : "ok", one, 0, 0) << "\n";
        status = WorseStatus(status, one);
        continue;
      }
      if (::stat(output.c_str(), &existing) == 0 && existing.st_dev == in.st_dev && existing.st_ino == in.st_ino) {
        repaired.error = output + " is the input itself";
      } else {
        repaired = WriteRepairedRecording(input, f, output, overwrite, &Cancel().stop);
      }
      int one = kExitOk;
      if (!repaired.ok) {
        one = Cancel().stop.load() ? kExitCancelled : kExitFailed;
        err << "zentrova: " << Printable(output) << ": " << repaired.error << "\n";
      } else if (f.damaged()) {
        one = kExitRecordingShort;
      }
      if (repaired.ok && !how.output.json && !how.output.quiet)
        err << "zentrova: wrote " << Printable(output) << " (" << repaired.frames << " frames)\n";
      if (how.output.json)
        out << FoundJson(input, f, i, repaired.ok ? output : std::string(),
                         !repaired.ok ? "failed" : (f.damaged() ? "recovered" : "ok"), one, repaired.frames, 0)
            << "\n";
      status = WorseStatus(status, one);
    }
  }
  return status;
}

}  // namespace zentrova::cli
