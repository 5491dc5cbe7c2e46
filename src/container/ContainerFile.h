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
// H.264 and MPEG-4 Part 2 only; AVI and Matroska every compressor. `reason` says why not.
bool CanCarry(Format format, const std::string& codec, std::string* reason);

// Creates or empties `path` and opens it as a file of `format`. 0 on success; otherwise
// `reason` says why in one line ("Permission denied").
int OpenOutput(std::shared_ptr<avi::AviFile>& file, Format format, const std::string& path, std::string* reason);

// A Matroska or MP4 file on the caller's sink. Samples are kept in a scratch file (in
// `scratchFolder`, or the system's temporary folder) until the file completes, when the final
// frame rate is known and the container is written in one go with it.
int OpenMediaFile(std::shared_ptr<avi::AviFile>& file, Format format, std::unique_ptr<avi::ByteSink> sink,
                  const std::string& scratchFolder, std::string* reason);

}  // namespace zentrova::container
