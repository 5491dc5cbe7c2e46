// Line doubling and range mapping of planes. The SSE2 code averages with PAVGB less the low bit
// of a XOR b (the rounded-down average), and maps the range on 16-bit lanes: w = k v + 4207 is
// below 65,536 for both weights, and w / 255 is (w + 1 + (w >> 8)) >> 8 for every such w.
#include "video/PlaneRows.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
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

// One output row: src (and, when `below` is set, the average of src and below), mapped.
void WriteRow(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, SampleRange range) {
  int32_t x = 0;
#if defined(__SSE2__)
  if (range == SampleRange::Full) {
    if (!below) {
      std::memcpy(out, src, static_cast<size_t>(width));
      return;
    }
    AverageRows(out, src, below, static_cast<size_t>(width));
    return;
  }
  const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(WeightOf(range)));
  for (; x + 16 <= width; x += 16) {
    __m128i v = Load(src + x);
    if (below) v = FloorAverage(v, Load(below + x));
    Store(out + x, MapSixteen(v, weight));
  }
#endif
  for (; x < width; ++x) {
    const uint8_t v = below ? static_cast<uint8_t>((src[x] + below[x]) >> 1) : src[x];
    out[x] = MapSample(v, range);
  }
}

}  // namespace

uint8_t MapSample(uint8_t v, SampleRange range) {
  if (range == SampleRange::Full) return v;
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
                            int32_t width, int32_t rows, bool doubled, SampleRange range) {
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    const uint8_t* b = r + 1 < rows ? s + srcStride : s;
    for (int32_t k = 0; k < (doubled ? 2 : 1); ++k) {
      uint8_t* out = dst + (doubled ? 2 * r + k : r) * dstStride;
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t v = k == 0 ? s[x] : static_cast<uint8_t>((s[x] + b[x]) >> 1);
        out[x] = MapSample(v, range);
      }
    }
  }
}

void CopyPlaneRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int32_t width,
                   int32_t rows, bool doubled, SampleRange range) {
  if (width <= 0 || rows <= 0) return;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    if (!doubled) {
      WriteRow(dst + r * dstStride, s, nullptr, width, range);
      continue;
    }
    uint8_t* even = dst + 2 * r * dstStride;
    WriteRow(even, s, nullptr, width, range);
    // The last row has no row below it: copied.
    WriteRow(even + dstStride, s, r + 1 < rows ? s + srcStride : nullptr, width, range);
  }
}

}  // namespace zentrova
