// Colour conversion with SSSE3: the offsets and clamping of ColourConversionLanes.h, and the
// 24-bit pixels assembled with byte shuffles, three shuffles per 16 output bytes. Built for SSSE3
// function by function (not the whole file), so that nothing shared with the rest of the program
// is compiled for it; installed only where the processor has SSSE3.
#include "video/x86/ColourConversion.h"

#if defined(__SSE2__)
#include <tmmintrin.h>

#include <array>

#include "video/x86/ColourConversionLanes.h"
#include "video/ColourConversionRows.h"

namespace zentrova {
namespace {

using namespace colour_lanes;

// Shuffle controls that move channel `channel` of 16 pixels into output block `block` (bytes
// 16 block .. 16 block + 15 of the 48 bytes blue, green, red, blue, ...); 0x80 clears a byte.
constexpr std::array<uint8_t, 16> ShuffleFor(int block, int channel) {
  std::array<uint8_t, 16> control{};
  for (int t = 0; t < 16; ++t) {
    const int g = 16 * block + t;
    control[t] = g % 3 == channel ? static_cast<uint8_t>(g / 3) : 0x80;
  }
  return control;
}

alignas(16) constexpr std::array<std::array<uint8_t, 16>, 9> kShuffles = {
    ShuffleFor(0, 0), ShuffleFor(0, 1), ShuffleFor(0, 2), ShuffleFor(1, 0), ShuffleFor(1, 1),
    ShuffleFor(1, 2), ShuffleFor(2, 0), ShuffleFor(2, 1), ShuffleFor(2, 2),
};

inline __m128i Control(int block, int channel) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(kShuffles[3 * block + channel].data()));
}

[[gnu::target("ssse3")]] inline __m128i Block(int block, __m128i blue, __m128i green, __m128i red) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(blue, Control(block, 0)), _mm_shuffle_epi8(green, Control(block, 1))),
                      _mm_shuffle_epi8(red, Control(block, 2)));
}

[[gnu::target("ssse3")]] inline void ConvertSixteen(uint8_t* out, const uint8_t* luma, const Offsets& o) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
  const __m128i yLo = _mm_unpacklo_epi8(y, zero);
  const __m128i yHi = _mm_unpackhi_epi8(y, zero);
  const __m128i blue = Channel(yLo, yHi, o.blue);
  const __m128i green = Channel(yLo, yHi, o.green);
  const __m128i red = Channel(yLo, yHi, o.red);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Block(0, blue, green, red));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), Block(1, blue, green, red));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), Block(2, blue, green, red));
}

[[gnu::target("ssse3")]] void ConvertRowPairSsse3(uint8_t* out0, uint8_t* out1, const uint8_t* y0,
                                                 const uint8_t* y1, const uint8_t* cb, const uint8_t* cr,
                                                 int32_t chromaWidth) {
  int32_t j = 0;
  for (; j + 8 <= chromaWidth; j += 8) {
    const Offsets o = OffsetsOf(cb + j, cr + j);
    ConvertSixteen(out0 + 6 * j, y0 + 2 * j, o);
    ConvertSixteen(out1 + 6 * j, y1 + 2 * j, o);
  }
  if (j < chromaWidth) ConvertRowPair(out0 + 6 * j, out1 + 6 * j, y0 + 2 * j, y1 + 2 * j, cb + j, cr + j, chromaWidth - j);
}

}  // namespace

void ConvertToRgb24Ssse3(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                         int32_t height) {
  ConvertByRowPairs(ConvertRowPairSsse3, picture, y, cb, cr, width, height);
}

void ConvertToRgb24DoubledSsse3(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height) {
  ConvertByRowPairsDoubled(ConvertRowPairSsse3, frame, y, cb, cr, width, height);
}

}  // namespace zentrova

#endif  // __SSE2__
