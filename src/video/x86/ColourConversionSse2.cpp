// Colour conversion with SSE2, sixteen pixels of a row pair (eight chroma pairs) per step. The
// offsets and clamping are those of ColourConversionLanes.h; the 24-bit pixels are assembled
// with shifts and masks and written with overlapping 8-byte stores.
#include "video/x86/ColourConversion.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

#include "video/x86/ColourConversionLanes.h"
#include "video/ColourConversionRows.h"

namespace zentrova {
namespace {

using namespace colour_lanes;

// Four pixels held as blue, green, red, 0 in each 32-bit lane -> each 64-bit half holds its two
// pixels in its low 6 bytes, zeros above.
inline __m128i PairsOfPixels(__m128i bgr0) {
  const __m128i firstOfPair = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i secondOfPair = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                             static_cast<int>(0xFF000000));
  return _mm_or_si128(_mm_and_si128(bgr0, firstOfPair), _mm_and_si128(_mm_srli_epi64(bgr0, 8), secondOfPair));
}

struct PixelQuads {
  __m128i q0, q1, q2, q3;  // pixels 0..3, 4..7, 8..11, 12..15 as pairs of 6 bytes
};

inline PixelQuads Interleave(__m128i blue, __m128i green, __m128i red) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bgLo = _mm_unpacklo_epi8(blue, green);
  const __m128i bgHi = _mm_unpackhi_epi8(blue, green);
  const __m128i r0Lo = _mm_unpacklo_epi8(red, zero);
  const __m128i r0Hi = _mm_unpackhi_epi8(red, zero);
  return {PairsOfPixels(_mm_unpacklo_epi16(bgLo, r0Lo)), PairsOfPixels(_mm_unpackhi_epi16(bgLo, r0Lo)),
          PairsOfPixels(_mm_unpacklo_epi16(bgHi, r0Hi)), PairsOfPixels(_mm_unpackhi_epi16(bgHi, r0Hi))};
}

// Writes a pair of 6 bytes with two 8-byte stores; each writes 2 bytes past its pair, which the
// next store (or the next pixels of the row) overwrite.
inline void StoreOverlapping(uint8_t* out, __m128i pairs) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), pairs);
  _mm_storeh_pi(reinterpret_cast<__m64*>(out + 6), _mm_castsi128_ps(pairs));
}

// Writes 16 pixels (48 bytes) and 2 bytes beyond them: only where more pixels of the row follow.
inline void StorePixelsOverlapping(uint8_t* out, const PixelQuads& p) {
  StoreOverlapping(out, p.q0);
  StoreOverlapping(out + 12, p.q1);
  StoreOverlapping(out + 24, p.q2);
  StoreOverlapping(out + 36, p.q3);
}

// Writes exactly 16 pixels (48 bytes): for the last pixels of a row.
inline void StorePixelsExactly(uint8_t* out, const PixelQuads& p) {
  alignas(16) uint8_t staging[56];
  StorePixelsOverlapping(staging, p);
  std::memcpy(out, staging, 48);
}

inline void ConvertSixteen(uint8_t* out, const uint8_t* luma, const Offsets& o, bool morePixelsFollow) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
  const __m128i yLo = _mm_unpacklo_epi8(y, zero);
  const __m128i yHi = _mm_unpackhi_epi8(y, zero);
  const PixelQuads pixels = Interleave(Channel(yLo, yHi, o.blue), Channel(yLo, yHi, o.green), Channel(yLo, yHi, o.red));
  if (morePixelsFollow) {
    StorePixelsOverlapping(out, pixels);
  } else {
    StorePixelsExactly(out, pixels);
  }
}

void ConvertRowPairSse2(uint8_t* out0, uint8_t* out1, const uint8_t* y0, const uint8_t* y1, const uint8_t* cb,
                        const uint8_t* cr, int32_t chromaWidth) {
  int32_t j = 0;
  for (; j + 8 <= chromaWidth; j += 8) {
    const Offsets o = OffsetsOf(cb + j, cr + j);
    const bool morePixelsFollow = j + 8 < chromaWidth;
    ConvertSixteen(out0 + 6 * j, y0 + 2 * j, o, morePixelsFollow);
    ConvertSixteen(out1 + 6 * j, y1 + 2 * j, o, morePixelsFollow);
  }
  if (j < chromaWidth) ConvertRowPair(out0 + 6 * j, out1 + 6 * j, y0 + 2 * j, y1 + 2 * j, cb + j, cr + j, chromaWidth - j);
}

}  // namespace

void ConvertToRgb24Sse2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height) {
  ConvertByRowPairs(ConvertRowPairSse2, picture, y, cb, cr, width, height);
}

void ConvertToRgb24DoubledSse2(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height) {
  ConvertByRowPairsDoubled(ConvertRowPairSse2, frame, y, cb, cr, width, height);
}

}  // namespace zentrova

#endif  // __SSE2__
