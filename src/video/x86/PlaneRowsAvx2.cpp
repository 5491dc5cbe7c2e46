// Line doubling and range mapping of planes with AVX2, thirty-two samples per step, built for it
// function by function; the steps are those of the SSE2 kernel, and unpacks and packs work
// within 128-bit halves alike, so every sample comes back to its own place.
#include "video/x86/PlaneRows.h"

#if defined(__SSE2__)
#include <immintrin.h>

namespace zentrova {
namespace {

[[gnu::target("avx2")]] inline __m256i QuarterHalf(__m256i s16, __m256i b16) {
  const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(s16, 1), s16),
                                       _mm256_add_epi16(b16, _mm256_set1_epi16(2)));
  return _mm256_srli_epi16(sum, 2);
}

[[gnu::target("avx2")]] inline __m256i MapHalf(__m256i v16, __m256i weight) {
  const __m256i w = _mm256_add_epi16(_mm256_mullo_epi16(v16, weight), _mm256_set1_epi16(kStudioBias));
  const __m256i q = _mm256_add_epi16(_mm256_add_epi16(w, _mm256_set1_epi16(1)), _mm256_srli_epi16(w, 8));
  return _mm256_srli_epi16(q, 8);
}

// The columns a whole number of 32-sample steps covers; returns where they end.
[[gnu::target("avx2")]] int32_t WriteSteps(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width,
                                           RowDoubling doubling, SampleRange range, int32_t row) {
  const __m256i weight = _mm256_set1_epi16(static_cast<int16_t>(StudioWeight(range)));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i checker = (row & 1) ? _mm256_set1_epi16(0x0001) : _mm256_set1_epi16(0x0100);
  int32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x));
    if (below) {
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(below + x));
      if (doubling == RowDoubling::ChromaOfAverage) {
        v = _mm256_packus_epi16(QuarterHalf(_mm256_unpacklo_epi8(v, zero), _mm256_unpacklo_epi8(b, zero)),
                                QuarterHalf(_mm256_unpackhi_epi8(v, zero), _mm256_unpackhi_epi8(b, zero)));
      } else {
        const __m256i lowBit = _mm256_and_si256(_mm256_xor_si256(v, b), _mm256_set1_epi8(1));
        v = _mm256_sub_epi8(_mm256_avg_epu8(v, b), lowBit);
      }
    }
    if (range == SampleRange::FullChroma) {
      v = _mm256_adds_epu8(v, checker);
    } else if (range != SampleRange::Full) {
      v = _mm256_packus_epi16(MapHalf(_mm256_unpacklo_epi8(v, zero), weight),
                              MapHalf(_mm256_unpackhi_epi8(v, zero), weight));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), v);
  }
  return x;
}

}  // namespace

void WritePlaneRowAvx2(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
                       SampleRange range, int32_t row) {
  // Full range needs no mapping, only a copy or PAVGB, which the SSE2 kernel does at memory speed.
  if (range == SampleRange::Full && doubling != RowDoubling::ChromaOfAverage) {
    WritePlaneRowSse2(out, src, below, width, doubling, range, row);
    return;
  }
  const int32_t x = WriteSteps(out, src, below, width, doubling, range, row);
  WritePlaneRowSse2From(out, src, below, width, doubling, range, row, x);
}

}  // namespace zentrova

#endif  // __SSE2__
