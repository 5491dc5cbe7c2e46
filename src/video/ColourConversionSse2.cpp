// Colour conversion with SSE2, sixteen pixels of a row pair (eight chroma pairs) per step.
//
// The chroma offsets are computed rather than looked up, with fixed-point forms that equal the
// tables on all 256 inputs (k = 2i - 255, exact 32-bit products from PMADDWD):
//   CbBlueTable[i] = (3629 k + 2048) >> 12
//   CrRedTable[i]  = (11485 k + 8192) >> 14
//   green offset   = (CbGreenTable[cb] + CrGreenTable[cr]) >> 16 = (32768 - 11277 kb - 23401 kr) >> 16
// (the two green tables are 32768 - 11277 k and -23401 k exactly). Luma plus offset fits 16 bits,
// so the unsigned saturating pack is exactly the clamp to 0..255.
#include "video/ColourConversion.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "video/ColourConversionRows.h"

namespace zentrova {
namespace {

// Pairs for PMADDWD: (first, second) in every 32-bit lane.
inline __m128i Pair(int16_t first, int16_t second) {
  return _mm_set_epi16(second, first, second, first, second, first, second, first);
}

// 8 x 32-bit (lo: lanes 0..3, hi: 4..7) shifted right and narrowed to 16 bits (values fit).
inline __m128i Narrow(__m128i lo, __m128i hi, int shift) {
  return _mm_packs_epi32(_mm_sra_epi32(lo, _mm_cvtsi32_si128(shift)), _mm_sra_epi32(hi, _mm_cvtsi32_si128(shift)));
}

struct Offsets {
  __m128i blue, green, red;  // eight 16-bit lanes, one per chroma sample
};

inline Offsets OffsetsOf(const uint8_t* cb, const uint8_t* cr) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(255);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i cbWide = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), zero);
  const __m128i crWide = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), zero);
  const __m128i kb = _mm_sub_epi16(_mm_add_epi16(cbWide, cbWide), bias);
  const __m128i kr = _mm_sub_epi16(_mm_add_epi16(crWide, crWide), bias);

  const __m128i blueWeights = Pair(3629, 2048);
  const __m128i redWeights = Pair(11485, 8192);
  const __m128i greenWeights = Pair(-11277, -23401);
  const __m128i half = _mm_set1_epi32(32768);
  Offsets o;
  o.blue = Narrow(_mm_madd_epi16(_mm_unpacklo_epi16(kb, one), blueWeights),
                  _mm_madd_epi16(_mm_unpackhi_epi16(kb, one), blueWeights), 12);
  o.red = Narrow(_mm_madd_epi16(_mm_unpacklo_epi16(kr, one), redWeights),
                 _mm_madd_epi16(_mm_unpackhi_epi16(kr, one), redWeights), 14);
  o.green = Narrow(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(kb, kr), greenWeights), half),
                   _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(kb, kr), greenWeights), half), 16);
  return o;
}

// Sixteen luma samples plus an offset per pixel pair, clamped to bytes.
inline __m128i Channel(__m128i lumaLo, __m128i lumaHi, __m128i offset) {
  const __m128i lo = _mm_add_epi16(lumaLo, _mm_unpacklo_epi16(offset, offset));
  const __m128i hi = _mm_add_epi16(lumaHi, _mm_unpackhi_epi16(offset, offset));
  return _mm_packus_epi16(lo, hi);
}

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
  if (width <= 0 || height <= 0) return;
  if (width % 2 != 0 || height % 2 != 0) {
    ConvertToRgb24Reference(picture, y, cb, cr, width, height);
    return;
  }
  const int32_t chromaWidth = width / 2;
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  for (int32_t ci = 0; ci < height / 2; ++ci) {
    const size_t row = 2 * static_cast<size_t>(ci);
    const uint8_t* y0 = y + row * width;
    uint8_t* out0 = picture + row * rowBytes;
    const size_t chromaRow = static_cast<size_t>(ci) * chromaWidth;
    ConvertRowPairSse2(out0, out0 + rowBytes, y0, y0 + width, cb + chromaRow, cr + chromaRow, chromaWidth);
  }
}

}  // namespace zentrova

#endif  // __SSE2__
