// Line doubling and range mapping of planes with SSE2, sixteen samples per step. The average is
// PAVGB less the low bit of a XOR b (the rounded-down average); the range is mapped on 16-bit
// lanes: w = k v + 4207 is below 65,536 for both weights, and w / 255 is (w + 1 + (w >> 8)) >> 8
// for every such w.
#include "video/x86/PlaneRows.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

#include "video/x86/ByteLanes.h"

namespace zentrova {
namespace {

using namespace byte_lanes;

inline __m128i DivideBy255(__m128i w) {
  const __m128i q = _mm_add_epi16(_mm_add_epi16(w, _mm_set1_epi16(1)), _mm_srli_epi16(w, 8));
  return _mm_srli_epi16(q, 8);
}

inline __m128i MapSixteen(__m128i v, __m128i weight) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(kStudioBias);
  const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), weight), bias);
  const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), weight), bias);
  return _mm_packus_epi16(DivideBy255(lo), DivideBy255(hi));
}

// (3 s + b + 2) >> 2 on sixteen bytes, in 16-bit lanes.
inline __m128i Quarter(__m128i s, __m128i b) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i two = _mm_set1_epi16(2);
  auto half = [&](__m128i s16, __m128i b16) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(s16, 1), s16), _mm_add_epi16(b16, two));
    return _mm_srli_epi16(sum, 2);
  };
  return _mm_packus_epi16(half(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(b, zero)),
                          half(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(b, zero)));
}

}  // namespace

void AverageRowsSse2(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) Store(out + i, FloorAverage(Load(a + i), Load(b + i)));
  AverageRowsReference(out + i, a + i, b + i, n - i);
}

void WritePlaneRowSse2From(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width,
                           RowDoubling doubling, SampleRange range, int32_t row, int32_t from) {
  const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(StudioWeight(range)));
  const __m128i checker = (row & 1) ? _mm_set1_epi16(0x0001) : _mm_set1_epi16(0x0100);  // +1 where x + row is odd
  int32_t x = from;
  for (; x + 16 <= width; x += 16) {
    __m128i v = Load(src + x);
    if (below) v = doubling == RowDoubling::ChromaOfAverage ? Quarter(v, Load(below + x)) : FloorAverage(v, Load(below + x));
    if (range == SampleRange::FullChroma)
      v = _mm_adds_epu8(v, checker);
    else if (range != SampleRange::Full)
      v = MapSixteen(v, weight);
    Store(out + x, v);
  }
  WritePlaneRowFrom(out, src, below, width, doubling, range, row, x);
}

void WritePlaneRowSse2(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
                       SampleRange range, int32_t row) {
  // Full range needs no mapping: a copy, or the rounded-down average alone.
  if (range == SampleRange::Full && doubling != RowDoubling::ChromaOfAverage) {
    if (!below) {
      std::memcpy(out, src, static_cast<size_t>(width));
      return;
    }
    AverageRowsSse2(out, src, below, static_cast<size_t>(width));
    return;
  }
  WritePlaneRowSse2From(out, src, below, width, doubling, range, row, 0);
}

}  // namespace zentrova

#endif  // __SSE2__
