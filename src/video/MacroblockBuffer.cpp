#include "video/MacroblockBuffer.h"

#include <cstddef>

namespace zentrova {

namespace {

int16_t* BlockOrigin(int block, int16_t* macroblock, int& stride) {
  if (block < 4) {
    stride = 16;
    return macroblock + (block >> 1) * 8 * 16 + (block & 1) * 8;
  }
  stride = 8;
  return macroblock + (block == 4 ? kCbOffset : kCrOffset);
}

// Byte offset of chroma row r of macroblock (x, y): the row start is formed on the luminance
// width and then halved.
size_t ChromaOffset(int x, int y, int r, int32_t width) {
  return static_cast<size_t>((8 * y + r) * width) / 2 + static_cast<size_t>(8 * x);
}

}  // namespace

void PlaceBlock(int block, int16_t* macroblock, const int16_t* samples) {
  int stride = 0;
  int16_t* origin = BlockOrigin(block, macroblock, stride);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) origin[r * stride + c] = samples[r * 8 + c];
}

void ClampMacroblock(int16_t* macroblock) {
  for (int i = 0; i < kMacroblockEntries; ++i) {
    const int16_t v = macroblock[i];
    macroblock[i] = v < 0 ? int16_t{0} : (v > 255 ? int16_t{255} : v);
  }
}

void StoreMacroblock(int x, int y, const int16_t* macroblock, const Planes& planes) {
  const size_t width = static_cast<size_t>(planes.width);
  uint8_t* luma = planes.y + static_cast<size_t>(16 * y) * width + static_cast<size_t>(16 * x);
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) luma[r * width + c] = static_cast<uint8_t>(macroblock[r * 16 + c]);
  for (int r = 0; r < 8; ++r) {
    const size_t at = ChromaOffset(x, y, r, planes.width);
    for (int c = 0; c < 8; ++c) {
      planes.cb[at + c] = static_cast<uint8_t>(macroblock[kCbOffset + r * 8 + c]);
      planes.cr[at + c] = static_cast<uint8_t>(macroblock[kCrOffset + r * 8 + c]);
    }
  }
}

void LoadMacroblock(int x, int y, int16_t* macroblock, const Planes& planes) {
  const size_t width = static_cast<size_t>(planes.width);
  const uint8_t* luma = planes.y + static_cast<size_t>(16 * y) * width + static_cast<size_t>(16 * x);
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) macroblock[r * 16 + c] = luma[r * width + c];
  for (int r = 0; r < 8; ++r) {
    const size_t at = ChromaOffset(x, y, r, planes.width);
    for (int c = 0; c < 8; ++c) {
      macroblock[kCbOffset + r * 8 + c] = planes.cb[at + c];
      macroblock[kCrOffset + r * 8 + c] = planes.cr[at + c];
    }
  }
}

void AddResidual(int16_t* prediction, const int16_t* residual) {
  for (int i = 0; i < kMacroblockEntries; ++i) {
    const uint16_t sum = static_cast<uint16_t>(static_cast<uint16_t>(prediction[i]) + static_cast<uint16_t>(residual[i]));
    prediction[i] = static_cast<int16_t>(sum);
  }
}

}  // namespace zentrova
