#pragma once
// The picture layer: the start code and the header fields that follow it.
#include <cstdint>

#include "video/BitReader.h"

namespace zentrova {

// The picture start code: the 21-bit value 16 (sixteen 0 bits, a 1 bit, four 0 bits).
inline constexpr uint32_t kPictureStartCode = 16;
inline constexpr int kPictureStartCodeBits = 21;
// The start code may begin at any of the first 161 bit positions of a frame.
inline constexpr int kLastStartCodePosition = 160;

// Looks for the start code at bit positions 0..160 and consumes it. The bits before it are not
// interpreted but count towards alignment. False when it is not there.
bool FindStartCode(BitReader& reader);

struct PictureHeader {
  uint32_t type = 0;       // 0 or 1: intra, 2 or 3: inter
  bool coded = true;       // inter only: false when the picture carries nothing more
  uint32_t width = 0;      // intra only
  uint32_t height = 0;     // intra only
  uint32_t quantiser = 0;  // intra, or coded inter
  bool intra() const { return type < 2; }
};

// Reads the header fields after the start code, up to where the macroblock data begin.
PictureHeader ReadPictureHeader(BitReader& reader);

}  // namespace zentrova
