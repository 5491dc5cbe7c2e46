#pragma once
// What an existing output file says about itself: whether it is a finished AVI file and how many
// frames its headers count. A batch rerun skips an output only when it is finished and holds
// every frame of its recording.
#include <cstdint>
#include <string>

namespace zentrova::cli {

struct AviProbe {
  bool isAvi = false;     // it starts as an AVI file ("RIFF" ... "AVI ")
  bool finished = false;  // its RIFF segments cover the file exactly and its headers are readable
  uint32_t frames = 0;    // the video frames its headers count (the extended count when present)
  uint32_t fourcc = 0;    // the video stream's compressor code
  double rate = 0;        // video frames per second
  uint64_t bytes = 0;     // the file's size
};

// Reads the segment headers and the header list of `path`; never reads the frames.
AviProbe ProbeAvi(const std::string& path);

// Whether `path` starts like a Matroska (".mkv") or MP4 (".mp4") file. Their completeness is not
// read: a batch converts such an output again.
bool StartsLikeContainer(const std::string& path, const std::string& extension);

// "FMP4", or the code in hexadecimal when it is not printable.
std::string FourCCText(uint32_t fourcc);

}  // namespace zentrova::cli
