// Line doubling and range mapping of planes. The SSE2 code averages with PAVGB less the low bit
// of a XOR b (the rounded-down average), and maps the range on 16-bit lanes: w = k v + 4207 is
// below 65,536 for both weights, and w / 255 is (w + 1 + (w >> 8)) >> 8 for every such w.
#include "video/PlaneRows.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>

#include "video/ProcessorFeatures.h"
#endif

namespace zentrova {
namespace {

constexpr int32_t kStudioBias = 16 * 255 + 127;

int32_t WeightOf(SampleRange range) { return range == SampleRange::StudioLuma ? 219 : 224; }

#if defined(__SSE2__)
inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline __m128i FloorAverage(__m128i a, __m128i b) {
  const __m128i lowBit = _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(a, b), lowBit);
}

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
#endif

inline uint8_t Between(uint8_t s, uint8_t b, RowDoubling doubling) {
  if (doubling == RowDoubling::ChromaOfAverage) return static_cast<uint8_t>((3 * s + b + 2) >> 2);
  return static_cast<uint8_t>((s + b) >> 1);
}

#if defined(__SSE2__)
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
#endif

#if defined(__SSE2__)
// The same steps on 32 samples with AVX2 (built for it function by function). Unpacks and packs
// work within 128-bit halves alike, so every sample comes back to its own place.
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

[[gnu::target("avx2")]] int32_t WriteRowAvx2(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width,
                                             RowDoubling doubling, SampleRange range, int32_t row) {
  const __m256i weight = _mm256_set1_epi16(static_cast<int16_t>(WeightOf(range)));
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
#endif

// One output row (number `row`): src, or (with `below`) the row between src and below, mapped.
void WriteRow(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
              SampleRange range, int32_t row) {
  int32_t x = 0;
#if defined(__SSE2__)
  if (range == SampleRange::Full && doubling != RowDoubling::ChromaOfAverage) {
    if (!below) {
      std::memcpy(out, src, static_cast<size_t>(width));
      return;
    }
    AverageRows(out, src, below, static_cast<size_t>(width));
    return;
  }
  static const bool avx2 = ProcessorHasAvx2();
  if (avx2) x = WriteRowAvx2(out, src, below, width, doubling, range, row);
  const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(WeightOf(range)));
  const __m128i checker = (row & 1) ? _mm_set1_epi16(0x0001) : _mm_set1_epi16(0x0100);  // +1 where x + row is odd
  for (; x + 16 <= width; x += 16) {
    __m128i v = Load(src + x);
    if (below) v = doubling == RowDoubling::ChromaOfAverage ? Quarter(v, Load(below + x)) : FloorAverage(v, Load(below + x));
    if (range == SampleRange::FullChroma)
      v = _mm_adds_epu8(v, checker);
    else if (range != SampleRange::Full)
      v = MapSixteen(v, weight);
    Store(out + x, v);
  }
#endif
  for (; x < width; ++x) {
    const uint8_t v = below ? Between(src[x], below[x], doubling) : src[x];
    out[x] = MapSample(v, range, x, row);
  }
}

}  // namespace

uint8_t MapSample(uint8_t v, SampleRange range, int32_t x, int32_t row) {
  if (range == SampleRange::Full) return v;
  if (range == SampleRange::FullChroma) return static_cast<uint8_t>(std::min(255, v + ((x + row) & 1)));
  return static_cast<uint8_t>((WeightOf(range) * v + kStudioBias) / 255);
}

void AverageRowsReference(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((a[i] + b[i]) >> 1);
}

void AverageRows(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) Store(out + i, FloorAverage(Load(a + i), Load(b + i)));
#endif
  AverageRowsReference(out + i, a + i, b + i, n - i);
}

void CopyPlaneRowsReference(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                            int32_t width, int32_t rows, RowDoubling doubling, SampleRange range) {
  const bool doubled = doubling != RowDoubling::None;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    const uint8_t* b = r + 1 < rows ? s + srcStride : s;
    for (int32_t k = 0; k < (doubled ? 2 : 1); ++k) {
      uint8_t* out = dst + (doubled ? 2 * r + k : r) * dstStride;
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t v = k == 0 ? s[x] : Between(s[x], b[x], doubling);
        out[x] = MapSample(v, range, x, doubled ? 2 * r + k : r);
      }
    }
  }
}

void CopyPlaneRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int32_t width,
                   int32_t rows, RowDoubling doubling, SampleRange range) {
  if (width <= 0 || rows <= 0) return;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    if (doubling == RowDoubling::None) {
      WriteRow(dst + r * dstStride, s, nullptr, width, doubling, range, r);
      continue;
    }
    uint8_t* even = dst + 2 * r * dstStride;
    WriteRow(even, s, nullptr, width, doubling, range, 2 * r);
    // The last row has no row below it: copied.
    WriteRow(even + dstStride, s, r + 1 < rows ? s + srcStride : nullptr, width, doubling, range, 2 * r + 1);
  }
}

}  // namespace zentrova
