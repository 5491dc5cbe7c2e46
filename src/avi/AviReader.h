#pragma once
// Reads what an existing AVI file says about itself: whether it is a finished AVI file and how
// many frames its headers count. A batch rerun skips an output only when it is finished and holds
// every frame of its recording.
#include <cstddef>
#include <cstdint>
#include <string>

namespace zentrova::avi {

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

// "FMP4", or the code in hexadecimal when it is not printable.
std::string FourCCText(uint32_t fourcc);

// Reads `count` bytes at `offset` of the open file `fd`; false when the file ends first or a read
// fails.
bool ReadFileAt(int fd, uint64_t offset, void* buffer, size_t count);

}  // namespace zentrova::avi
