#include "cli/RecoveryReport.h"

#include <chrono>
#include <cstdio>

#include "cli/Json.h"
#include "cli/Progress.h"
#include "cli/Signals.h"
#include "recording/ZrFormat.h"

namespace zentrova::cli {

// Scans `input` with a progress line on a terminal; Ctrl-C ends the scan at once.
ScanResult ScanWithProgress(const Invocation& how, const std::string& input, ScanOptions scan, std::ostream& err) {
  ProgressLine line(err, how.errIsTerminal && !how.output.noProgress && !how.output.quiet);
  const auto start = std::chrono::steady_clock::now();
  scan.cancel = &Cancel().stop;
  if (line.enabled())
    scan.progress = [&](uint64_t done, uint64_t total) {
      char text[160];
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::snprintf(text, sizeof text, "scanning %s: %.0f%% (%.1f of %.1f MB, %.0f MB/s)", Printable(input).c_str(),
                    total ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0, done / 1e6,
                    total / 1e6, seconds > 0 ? done / 1e6 / seconds : 0.0);
      line.Draw(std::string(text).substr(0, line.width()));
    };
  ScanResult result = ScanRecordingFile(input, scan);
  line.Clear();
  return result;
}


std::string FoundJson(const std::string& input, const FoundRecording& f, size_t index, const std::string& output,
                      const std::string& status, int exitStatus, uint32_t framesWritten, uint32_t damagedPictures) {
  JsonObject json;
  json.AddPath("input", input).Add("recording", static_cast<uint32_t>(index + 1));
  if (!output.empty()) json.AddPath("output", output);
  json.Add("status", status).Add("exitStatus", static_cast<int32_t>(exitStatus));
  json.Add("start", f.start).Add("end", f.end).Add("frames", f.frames).Add("blocks", f.blocks);
  json.Add("chainFrames", f.chainFrames).Add("framesWritten", framesWritten).Add("damagedPictures", damagedPictures);
  const auto size = SizeOfResolutionCode(f.header.resolutionCode);
  json.Add("width", size ? size->width : 0).Add("height", size ? size->height : 0);
  json.Add("version", uint32_t{f.header.version}).Add("headerFound", f.headerFound);
  json.Add("sizeInferred", f.sizeInferred).Add("generationInferred", f.generationInferred);
  if (f.headerFound) {
    json.Add("recordingStart", Iso8601Utc(f.header.startTime)).Add("recordingEnd", Iso8601Utc(f.header.endTime));
  } else {
    json.AddNull("recordingStart").AddNull("recordingEnd");
  }
  std::string fragments = "[";
  for (const Extent& e : f.extents) {
    if (fragments.size() > 1) fragments += ", ";
    fragments += JsonObject().Add("at", e.at).Add("length", e.length).Text();
  }
  json.AddRaw("fragments", fragments + "]");
  std::string damage = "[";
  for (const DamagedSpan& d : f.damage) {
    if (damage.size() > 1) damage += ", ";
    damage += JsonObject().Add("offset", d.offset).Add("length", d.length).Add("what", d.what).Text();
  }
  json.AddRaw("damage", damage + "]");
  std::string notes = "[";
  for (const std::string& n : f.notes) notes += (notes.size() > 1 ? ", " : "") + JsonString(n);
  json.AddRaw("notes", notes + "]");
  json.Add("damaged", f.damaged());
  return json.Text();
}

}  // namespace zentrova::cli
