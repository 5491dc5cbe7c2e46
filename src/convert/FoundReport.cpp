#include "convert/FoundReport.h"

#include <filesystem>

#include "container/Tags.h"
#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

// 1234567 as "1,234,567": byte positions in a disk image are long.
std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string SizeText(const FoundRecording& f) {
  const auto size = SizeOfResolutionCode(f.header.resolutionCode);
  if (!size) return "unknown size";
  return std::to_string(size->width) + " x " + std::to_string(size->height);
}

}  // namespace

std::string NumberedName(const std::string& path, size_t n) {
  if (n == 0) return path;
  const std::filesystem::path p(path);
  const std::string stem = p.stem().string() + "-" + std::to_string(n + 1) + p.extension().string();
  return (p.parent_path() / stem).string();
}

std::vector<std::string> DescribeFound(const FoundRecording& f, size_t index, size_t count) {
  std::vector<std::string> lines;
  std::string head = count > 1 ? "recording " + std::to_string(index + 1) + " of " + std::to_string(count)
                               : std::string("recording");
  head += ", bytes " + Grouped(f.start) + " to " + Grouped(f.end) + ": " + std::to_string(f.frames) + " frames";
  if (f.extents.size() > 1) head += " in " + std::to_string(f.extents.size()) + " fragments";
  head += ", " + SizeText(f) + (f.header.version == kVersionNewer ? " (newer generation)" : "");
  if (f.headerFound) {
    head += ", " + container::IsoUtc(f.header.startTime);
    if (f.header.endTime != f.header.startTime) head += " to " + container::IsoUtc(f.header.endTime);
  }
  if (!f.damaged()) head += "; undamaged";
  lines.push_back(head);
  if (f.headerFound && f.chainFrames < f.frames)
    lines.push_back("  its block chain reaches " + std::to_string(f.chainFrames) + " of them");
  for (const DamagedSpan& d : f.damage) {
    std::string line = "  damaged: " + d.what + " at byte " + Grouped(d.offset);
    if (d.length) line += " (" + Grouped(d.length) + " bytes)";
    lines.push_back(line + "; skipped, the frames resume after it");
  }
  for (const std::string& note : f.notes) lines.push_back("  " + note);
  if (f.sizeInferred || f.generationInferred)
    lines.push_back("  inferred: " + std::string(f.sizeInferred ? "the picture size" : "") +
                    (f.sizeInferred && f.generationInferred ? " and " : "") +
                    (f.generationInferred ? "the codec generation" : "") +
                    " (--size WxH and --generation older|newer set them)");
  return lines;
}

}  // namespace zentrova
