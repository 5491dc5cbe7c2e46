#include "container/ContainerFile.h"

#include <string>

namespace zentrova::container {
namespace {

bool EndsWithNoCase(const std::string& s, const char* tail) {
  const size_t n = std::char_traits<char>::length(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

const char* FormatName(Format format) {
  switch (format) {
    case Format::Matroska: return "mkv";
    case Format::Mp4: return "mp4";
    case Format::Avi: break;
  }
  return "avi";
}

std::optional<Format> ParseFormat(const std::string& name) {
  if (name == "avi") return Format::Avi;
  if (name == "mkv") return Format::Matroska;
  if (name == "mp4") return Format::Mp4;
  return std::nullopt;
}

Format FormatOfName(const std::string& path) {
  if (EndsWithNoCase(path, ".mkv")) return Format::Matroska;
  if (EndsWithNoCase(path, ".mp4")) return Format::Mp4;
  return Format::Avi;
}

bool IsOutputName(const std::string& path) {
  return EndsWithNoCase(path, "avi") || EndsWithNoCase(path, ".mkv") || EndsWithNoCase(path, ".mp4");
}

const char* ContainerTitle(Format format) {
  switch (format) {
    case Format::Matroska: return "Matroska";
    case Format::Mp4: return "MP4";
    case Format::Avi: break;
  }
  return "AVI";
}

Expected<void> CanCarry(Format format, const std::string& codec) {
  if (format == Format::Mp4 && codec != "h264" && codec != "mpeg4")
    return Failure("MP4 carries h264 or mpeg4 pictures, not " + codec +
                   " (Matroska takes every compressor but raw, AVI every one)");
  // Players show uncompressed pictures in Matroska as nothing at all; FFV1 keeps every picture
  // exactly as decoded too.
  if (format == Format::Matroska && codec == "raw")
    return Failure("Matroska does not carry raw pictures (players show none); ffv1 keeps every picture exactly as "
                   "decoded (lossless), or an AVI output takes raw ones");
  return {};
}

}  // namespace zentrova::container
