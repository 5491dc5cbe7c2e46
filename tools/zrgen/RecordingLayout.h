#pragma once
// Where every block and frame of an intact recording lies, found by walking its block chain.
// The damage generator needs the byte ranges to damage and to judge what survived; it reads
// the recordings zrgen writes and refuses anything that does not parse to the last byte of
// its chain.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zentrova::zrgen {

struct BlockSpan {
  uint64_t offset = 0;  // of the block header
  uint32_t frameCount = 0;
  uint32_t firstFrame = 0;  // index of its first frame in the recording
};

struct FrameSpan {
  uint64_t offset = 0;  // of the frame header
  uint64_t size = 0;    // header, video and sound
  uint32_t headerSize = 0;
  uint32_t videoBytes = 0;
  uint16_t flags = 0;
  char picture = 'P';  // I intra, P inter, N no picture, X no start code in the video bytes
};

struct RecordingLayout {
  std::vector<uint8_t> bytes;
  uint64_t firstBlockOffset = 0;
  std::vector<BlockSpan> blocks;  // in chain order
  std::vector<FrameSpan> frames;  // in chain order
};

// Reads the file and walks its chain; false with `error` when it is not a recording whose
// chain parses completely.
bool ReadRecordingLayout(const std::string& path, RecordingLayout& layout, std::string& error);

// The kind of picture the video bytes carry: the two bits after the start code (0 or 1 intra,
// 2 or 3 inter); N when the frame says it has no picture.
char PictureKindOf(std::span<const uint8_t> video, uint16_t flags);

}  // namespace zentrova::zrgen
