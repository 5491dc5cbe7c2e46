#pragma once
// Constants and entry placement shared by the scalar emulation and the SIMD code of the
// 16-bit saturating-lane inverse DCT.
#include <array>
#include <cstdint>

#include "video/Zigzag.h"

namespace zentrova::vector_idct {

// Multipliers x 2^15 (half the size of the plain variant's; the input shifts make up for it).
constexpr int16_t kCos4 = 23170;   // cos(pi/4)
constexpr int16_t kCos2 = 30274;   // cos(pi/8)
constexpr int16_t kSin2 = 12540;   // sin(pi/8)
constexpr int16_t kCos1 = 32138;   // cos(pi/16)
constexpr int16_t kSin1 = 6392;    // sin(pi/16)
constexpr int16_t kCos3 = 27246;   // cos(3pi/16)
constexpr int16_t kSin3 = 18204;   // sin(3pi/16)

// The zigzag scan with the transposition of the vector variant folded in: entry 8 * column + row
// holds the transmission index of natural coefficient (row, column), so that the first pass,
// which runs down the columns of the array, transforms the natural rows.
constexpr std::array<uint8_t, 64> kTransposedZigzag = [] {
  std::array<uint8_t, 64> table{};
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 8; ++column) {
      table[8 * column + row] = static_cast<uint8_t>(ZigzagTable[8 * row + column]);
    }
  }
  return table;
}();

}  // namespace zentrova::vector_idct
