#include "cli/BatchReport.h"

#include <sys/stat.h>

#include "cli/Json.h"

namespace zentrova::cli {
namespace {

std::string DigestText(const ConversionReport::File& f) {
  return f.sha256.empty() ? "not read (" + f.problem + ")" : f.sha256;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string BatchReportJson(const BatchReport& r) {
  std::string rows = "[";
  for (const BatchReport::Row& row : r.rows) {
    if (rows.size() > 1) rows += ",";
    JsonObject o;
    o.AddRaw("input", FileJson(row.inputFile).Text());
    if (row.output.empty())
      o.AddNull("output");
    else
      o.AddRaw("output", FileJson(row.outputFile).Text());
    o.Add("status", row.status).Add("exitStatus", static_cast<int64_t>(row.exitStatus)).Add("frames", row.frames);
    if (!row.reason.empty()) o.Add("reason", row.reason);
    if (row.report.empty())
      o.AddNull("report");
    else
      o.AddPath("report", row.report);
    rows += o.Text();
  }
  rows += "]";
  JsonObject report;
  report.Add("report", "zentrova batch").Add("program", r.program).Add("commandLine", r.commandLine);
  report.Add("started", IsoUtcMillis(r.started)).Add("startedMs", r.started);
  report.Add("ended", IsoUtcMillis(r.ended)).Add("endedMs", r.ended);
  report.AddRaw("recordings", rows).Add("notStarted", static_cast<uint64_t>(r.notStarted));
  report.Add("exitStatus", static_cast<int64_t>(r.exitStatus));
  return report.Text() + "\n";
}

std::string BatchReportText(const BatchReport& r) {
  std::string t = "Batch conversion report\n\n";
  auto line = [&t](const std::string& name, const std::string& value) { t += name + ": " + value + "\n"; };
  line("  program", r.program);
  line("  command line", r.commandLine);
  line("  started", IsoUtcMillis(r.started));
  line("  ended", IsoUtcMillis(r.ended));
  t += "\nRecordings (" + std::to_string(r.rows.size()) + ")\n";
  for (const BatchReport::Row& row : r.rows) {
    t += "\n";
    line("  recording", row.inputFile.path);
    line("    SHA-256", DigestText(row.inputFile));
    if (row.output.empty()) {
      line("  output", "none");
    } else {
      line("  output", row.outputFile.path);
      line("    SHA-256", DigestText(row.outputFile));
    }
    line("  status", row.status + (row.reason.empty() ? "" : ": " + row.reason));
    line("  frames", std::to_string(row.frames));
    line("  exit status", std::to_string(row.exitStatus));
    line("  report", row.report.empty() ? "none" : row.report);
  }
  if (r.notStarted) t += "\nNot started (stopped): " + std::to_string(r.notStarted) + " recordings\n";
  t += "\nExit status: " + std::to_string(r.exitStatus) + "\n";
  return t;
}

Expected<std::string> WriteBatchReport(const std::string& folder, BatchReport& report) {
  for (BatchReport::Row& row : report.rows) {
    if (row.hashed) continue;
    row.inputFile = FileFacts(row.input);
    if (!row.output.empty()) row.outputFile = FileFacts(row.output);
    row.hashed = true;
  }
  // The report of an earlier batch into the folder is evidence of its own: it stays, and this
  // one takes the next free number.
  std::string base;
  for (int n = 1;; ++n) {
    base = folder + "/zentrova-batch" + (n == 1 ? "" : "-" + std::to_string(n));
    if (!Exists(base + ".report.json") && !Exists(base + ".report.txt")) break;
  }
  const std::string json = base + ".report.json";
  Expected<void> written = WriteWholeFile(json, BatchReportJson(report));
  if (written) written = WriteWholeFile(base + ".report.txt", BatchReportText(report));
  if (!written) return written.error();
  return json;
}

}  // namespace zentrova::cli
