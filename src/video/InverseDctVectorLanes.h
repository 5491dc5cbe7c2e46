#pragma once
// Constants and entry placement shared by the scalar emulation and the SIMD code of the
// 16-bit saturating-lane inverse DCT.
#include <array>
#include <cstdint>

namespace zentrova::vector_idct {

// Multipliers x 2^15 (half the size of the plain variant's; the input shifts make up for it).
constexpr int16_t kCos4 = 23170;   // cos(pi/4)
constexpr int16_t kCos2 = 30274;   // cos(pi/8)
constexpr int16_t kSin2 = 12540;   // sin(pi/8)
constexpr int16_t kCos1 = 32138;   // cos(pi/16)
constexpr int16_t kSin1 = 6392;    // sin(pi/16)
constexpr int16_t kCos3 = 27246;   // cos(3pi/16)
constexpr int16_t kSin3 = 18204;   // sin(3pi/16)

// The zigzag scan of ITU-T T.81 with the transposition of the vector variant folded in:
// entry 8 * column + row holds the transmission index of natural coefficient (row, column), so
// that the first pass, which runs down the columns of the array, transforms the natural rows.
constexpr std::array<uint8_t, 64> kTransposedZigzag = {
    0, 2,  3,  9,  10, 20, 21, 35,  //
    1, 4,  8,  11, 19, 22, 34, 36,  //
    5, 7,  12, 18, 23, 33, 37, 48,  //
    6, 13, 17, 24, 32, 38, 47, 49,  //
    14, 16, 25, 31, 39, 46, 50, 57,  //
    15, 26, 30, 40, 45, 51, 56, 58,  //
    27, 29, 41, 44, 52, 55, 59, 62,  //
    28, 42, 43, 53, 54, 60, 61, 63,
};

}  // namespace zentrova::vector_idct
