#pragma once
// The containers a conversion can write: our own AVI writer, or Matroska and MP4 through
// libavformat. All three are reached through the same file and stream interfaces, so the job and
// the compressed streams feed them exactly as they feed the AVI writer.
#include <memory>
#include <optional>
#include <string>

#include "avi/AviFile.h"
#include "avi/ByteSink.h"

namespace zentrova::container {

enum class Format { Avi, Matroska, Mp4 };

// A flag of a Matroska or MP4 picture stream's StreamInfo::dwFlags (never written to an AVI
// file): the pictures are to last as long as the sound, so their rate is final only once every
// sample is in, and each picture is timed by the sound written before it.
inline constexpr uint32_t kTimedBySound = 0x80000000u;

// "avi", "mkv", "mp4".
const char* FormatName(Format format);
std::optional<Format> ParseFormat(const std::string& name);
// The format an output name asks for: ".mkv" and ".mp4" (in any case) name theirs, every other
// name AVI.
Format FormatOfName(const std::string& path);
// Whether `path` names a file of one of the three: ".mkv" or ".mp4", or a name ending in "avi" in
// any case (with or without the dot: "clipavi" has always been an AVI output). Both front ends
// check a typed name with it.
bool IsOutputName(const std::string& path);
// The container's name as the user knows it: "AVI", "Matroska", "MP4".
const char* ContainerTitle(Format format);

// Whether `format` can carry the pictures of compressor `codec` ("raw", "h264", ...). MP4 takes
// H.264 and MPEG-4 Part 2 only; Matroska every compressor but raw (FFV1 is its lossless one); AVI
// every compressor. The error says why not.
Expected<void> CanCarry(Format format, const std::string& codec);

// A Matroska or MP4 file on the caller's sink, written as the samples come (Matroska clusters,
// MP4 fragments), so that it is playable up to about its last second whenever the writing stops.
Expected<std::shared_ptr<OutputFile>> OpenMediaFile(Format format, std::unique_ptr<avi::ByteSink> sink);

}  // namespace zentrova::container
