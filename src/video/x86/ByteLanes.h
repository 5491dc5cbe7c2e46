#pragma once
// Sixteen bytes at a time with SSE2, for the row kernels: unaligned loads and stores, and the
// rounded-down average floor((a + b) / 2) of bytes, which is PAVGB's rounded-up average less the
// lowest bit of a XOR b.
#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstdint>

namespace zentrova::byte_lanes {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline __m128i FloorAverage(__m128i a, __m128i b) {
  const __m128i lowBit = _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(a, b), lowBit);
}

}  // namespace zentrova::byte_lanes

#endif  // __SSE2__
