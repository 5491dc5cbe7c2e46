#include "cli/RecoveryReport.h"

#include "cli/Json.h"
#include "recording/ZrFormat.h"

namespace zentrova::cli {

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
