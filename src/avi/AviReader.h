#pragma once
// Reads what an existing AVI file says about itself: whether it is a finished AVI file and how
// many frames its headers count, and the chunks its RIFF segments hold. A batch rerun skips an
// output only when it is finished and holds every frame of its recording.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zentrova::avi {

struct AviProbe {
  bool isAvi = false;     // it starts as an AVI file ("RIFF" ... "AVI ")
  bool finished = false;  // its RIFF segments cover the file exactly and its headers are readable
  uint32_t frames = 0;    // the video frames its headers count (the extended count when present)
  uint32_t fourcc = 0;    // the video stream's compressor code
  double rate = 0;        // video frames per second
  uint64_t bytes = 0;     // the file's size
};

// One chunk of a RIFF file, a list or a plain chunk.
struct RiffChunk {
  std::string path;   // the types of the lists it lies in, then its own id or list type: "AVI /hdrl/strl/strh"
  uint32_t id = 0;    // its id, or a list's type ("strh", "hdrl")
  bool list = false;  // a RIFF segment or a LIST: its data is the chunks after its type
  size_t data = 0;    // where its data starts in the bytes listed (after a list's type)
  uint32_t size = 0;  // its data's size (a list's without its type)
};

// Every chunk of the chunk sequence `bytes` in file order, each list before the chunks in it: the
// RIFF segments of a whole file (OpenDML's AVIX segments included), or a list read on its own.
// "RIFF" makes a segment only at the top; a list inside five others is listed but not entered. A
// chunk that runs past the end of the list holding it (or of the bytes) ends that list's walk, so
// a segment cut short is not listed at all.
std::vector<RiffChunk> ListRiffChunks(std::span<const uint8_t> bytes);

// Reads the segment headers and the header list of `path`; never reads the frames.
AviProbe ProbeAvi(const std::string& path);

// "FMP4", or the code in hexadecimal when it is not printable.
std::string FourCCText(uint32_t fourcc);

// Reads `count` bytes at `offset` of the open file `fd`; false when the file ends first or a read
// fails.
bool ReadFileAt(int fd, uint64_t offset, void* buffer, size_t count);

}  // namespace zentrova::avi
