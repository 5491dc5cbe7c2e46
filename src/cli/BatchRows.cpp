#include "cli/BatchRows.h"

#include <cstdio>
#include <ctime>

#include "cli/Json.h"
#include "cli/Progress.h"
#include "cli/Timeline.h"

namespace zentrova::cli::batch {

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

int Summarise(const std::vector<Row>& rows, size_t notStarted, double videoSeconds, Clock::time_point batchStart,
              unsigned jobs, bool quiet, std::ostream& info) {
  size_t converted = 0, skipped = 0, partial = 0, failed = 0;
  uint64_t frames = 0;
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
  if (!quiet) {
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

}  // namespace zentrova::cli::batch
