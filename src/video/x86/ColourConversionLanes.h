#pragma once
// Lane arithmetic shared by the SIMD colour conversions (SSE2 instructions only, so it may be
// inlined into code built for any later instruction set).
//
// The chroma offsets are computed rather than looked up, with fixed-point forms that equal the
// tables on all 256 inputs (k = 2i - 255, exact 32-bit products from PMADDWD):
//   CbBlueTable[i] = (3629 k + 2048) >> 12
//   CrRedTable[i]  = (11485 k + 8192) >> 14
//   green offset   = (CbGreenTable[cb] + CrGreenTable[cr]) >> 16 = (32768 - 11277 kb - 23401 kr) >> 16
// (the two green tables are 32768 - 11277 k and -23401 k exactly). Luma plus offset fits 16 bits,
// so the unsigned saturating pack is exactly the clamp to 0..255.
#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstdint>

namespace zentrova::colour_lanes {

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

}  // namespace zentrova::colour_lanes

#endif  // __SSE2__
