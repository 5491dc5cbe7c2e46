#pragma once
// What a frame is without decoding it: its picture type from the picture header in its first
// bytes, its sizes and its sound. Read through a reader's positioned access, a block at a time,
// so that the clock and a clip look only at the blocks they need.
#include <cstdint>
#include <vector>

namespace zentrova {

class ZrReader;

enum class PictureKind { None, Intra, Inter };

struct FrameSummary {
  PictureKind picture = PictureKind::None;  // None: marked as holding no picture, or no start code
  uint32_t videoBytes = 0;                  // as the frame header declares them
  uint32_t audioBytes = 0;                  // 0 for a frame without sound
  uint32_t samples = 0;                     // 8 kHz samples its sound decodes to
};

const char* PictureKindName(PictureKind kind);  // "intra", "inter", "none"

// The frames of block `block` in order. Fewer than the block declares when the file ends inside
// it; empty for a block without frames or one the reader cannot reach. Moves the reader's cursor.
std::vector<FrameSummary> ReadBlockSummaries(ZrReader& reader, uint32_t block);

}  // namespace zentrova
