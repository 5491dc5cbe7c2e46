#pragma once
// The chroma tables of the colour conversion, indexed by the 8-bit chroma value i and centred on
// 127.5 rather than 128, so neither offset table holds a 0. The weights are those of the JFIF
// YCbCr conversion: 1.772 (Cb -> blue), 1.402 (Cr -> red), 0.34414 and 0.71414 (Cb and Cr ->
// green, as 22554 and 46802 in 16.16). Every entry is an exact integer, computed here without
// floating point.
#include <array>
#include <cstdint>

namespace zentrova {
namespace colour_tables {

using Table = std::array<int32_t, 256>;

// floor(n / d) for d > 0.
constexpr int32_t FloorDivide(int32_t n, int32_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

// floor(weight / 1000 x (i - 127.5) + 0.5) = floor((weight x (2i - 255) + 1000) / 2000).
constexpr Table OffsetTable(int32_t weightThousandths) {
  Table t{};
  for (int32_t i = 0; i < 256; ++i) t[i] = FloorDivide(weightThousandths * (2 * i - 255) + 1000, 2000);
  return t;
}

// base - weight x (i - 127.5), with weight even so the product is whole: 16.16 fixed point.
constexpr Table GreenTable(int32_t base, int32_t weight) {
  Table t{};
  for (int32_t i = 0; i < 256; ++i) t[i] = base - (weight / 2) * (2 * i - 255);
  return t;
}

}  // namespace colour_tables

// Cb -> blue offset, floor(1.772 x (i - 127.5) + 0.5): -226 .. 226.
inline constexpr colour_tables::Table CbBlueTable = colour_tables::OffsetTable(1772);
// Cr -> red offset, floor(1.402 x (i - 127.5) + 0.5): -179 .. 179.
inline constexpr colour_tables::Table CrRedTable = colour_tables::OffsetTable(1402);
// Cb share of green in 16.16, holding the rounding half: 32768 - 22554 x (i - 127.5).
inline constexpr colour_tables::Table CbGreenTable = colour_tables::GreenTable(32768, 22554);
// Cr share of green in 16.16: -46802 x (i - 127.5).
inline constexpr colour_tables::Table CrGreenTable = colour_tables::GreenTable(0, 46802);

static_assert(CbBlueTable[0] == -226 && CbBlueTable[127] == -1 && CbBlueTable[128] == 1 && CbBlueTable[255] == 226);
static_assert(CrRedTable[0] == -179 && CrRedTable[127] == -1 && CrRedTable[128] == 1 && CrRedTable[255] == 179);
static_assert(CbGreenTable[0] == 2908403 && CbGreenTable[128] == 21491 && CbGreenTable[255] == -2842867);
static_assert(CrGreenTable[0] == 5967255 && CrGreenTable[255] == -5967255);

}  // namespace zentrova
