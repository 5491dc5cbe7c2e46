#include "recording/StartCodeSearch.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "video/PictureHeader.h"

namespace zentrova {
namespace {

// A candidate found by the vector loops (the last 0 byte before a nonzero one, or "ZR") checked
// bit by bit: true and the hit when it is one.
inline bool Confirm(const uint8_t* b, size_t i, SearchHit& hit) {
  if (b[i] == 'Z') {
    hit = {i, true, 0};
    return true;
  }
  if (i == 0 || b[i] != 0 || b[i + 1] == 0) return false;
  const int o = __builtin_clz(static_cast<unsigned>(b[i + 1])) - 24;
  const uint32_t word = static_cast<uint32_t>(b[i - 1]) << 24 | static_cast<uint32_t>(b[i]) << 16 |
                        static_cast<uint32_t>(b[i + 1]) << 8 | b[i + 2];
  if (((word >> (32 - kPictureStartCodeBits - o)) & 0x1FFFFF) != kPictureStartCode) return false;
  hit = {i, false, o};
  return true;
}

inline bool Candidate(const uint8_t* b, size_t i) {
  return (b[i] == 0 && b[i + 1] != 0) || (b[i] == 'Z' && b[i + 1] == 'R');
}

SearchHit PortableSearch(const uint8_t* b, size_t i, size_t end) {
  SearchHit hit;
  for (; i < end; ++i)
    if (Candidate(b, i) && Confirm(b, i, hit)) return hit;
  return {end, false, 0};
}

#if defined(__SSE2__)
SearchHit Sse2Search(const uint8_t* b, size_t i, size_t end) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i zed = _mm_set1_epi8('Z');
  const __m128i arr = _mm_set1_epi8('R');
  SearchHit hit;
  // `next` reads one byte past the sixteen: end + 3 <= n leaves room for it.
  for (; i + 16 <= end; i += 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + 1));
    const __m128i runEnd = _mm_andnot_si128(_mm_cmpeq_epi8(next, zero), _mm_cmpeq_epi8(here, zero));
    const __m128i magic = _mm_and_si128(_mm_cmpeq_epi8(here, zed), _mm_cmpeq_epi8(next, arr));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(runEnd, magic))); mask != 0;
         mask &= mask - 1)
      if (Confirm(b, i + static_cast<size_t>(__builtin_ctz(mask)), hit)) return hit;
  }
  return PortableSearch(b, i, end);
}

// The byte after a start code's last 0 byte holds its 1 bit and then as many of the four 0 bits
// as fit: 1000 0xxx, 0100 00xx, 0010 000x, 0001 0000, or 0000 1000 down to 0000 0001. Two nibble
// tables say which of these five shapes a byte's high and low halves allow; a byte is one of them
// when they agree. Random bytes pass one time in thirteen instead of 255 in 256.
[[gnu::target("avx2")]] inline __m256i CodeByte(__m256i v) {
  // Shapes: 1 = 0000 0001..0000 1000 (one bit), 2 = 0001 0000, 4 = 0010 000x, 8 = 0100 00xx,
  // 16 = 1000 0xxx.
  const __m256i high = _mm256_setr_epi8(1, 2, 4, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0,  //
                                        1, 2, 4, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0);
  const __m256i low = _mm256_setr_epi8(2 | 4 | 8 | 16, 1 | 4 | 8 | 16, 1 | 8 | 16, 8 | 16, 1 | 16, 16, 16, 16, 1, 0, 0,
                                       0, 0, 0, 0, 0,  //
                                       2 | 4 | 8 | 16, 1 | 4 | 8 | 16, 1 | 8 | 16, 8 | 16, 1 | 16, 16, 16, 16, 1, 0, 0,
                                       0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i h = _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
  const __m256i l = _mm256_shuffle_epi8(low, _mm256_and_si256(v, nibble));
  return _mm256_andnot_si256(_mm256_cmpeq_epi8(_mm256_and_si256(h, l), _mm256_setzero_si256()),
                             _mm256_set1_epi8(-1));
}

[[gnu::target("avx2")]] SearchHit Avx2Search(const uint8_t* b, size_t i, size_t end) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i zed = _mm256_set1_epi8('Z');
  const __m256i arr = _mm256_set1_epi8('R');
  SearchHit hit;
  for (; i + 32 <= end; i += 32) {
    const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 1));
    const __m256i code = _mm256_and_si256(_mm256_cmpeq_epi8(here, zero), CodeByte(next));
    const __m256i magic = _mm256_and_si256(_mm256_cmpeq_epi8(here, zed), _mm256_cmpeq_epi8(next, arr));
    for (unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(code, magic))); mask != 0;
         mask &= mask - 1)
      if (Confirm(b, i + static_cast<size_t>(__builtin_ctz(mask)), hit)) return hit;
  }
  return Sse2Search(b, i, end);
}
#endif

}  // namespace

SearchHit NextSearchHit(const uint8_t* b, size_t from, size_t n, uint32_t cpuFlags) {
  const size_t end = n >= 3 ? n - 3 : 0;
  if (from >= end) return {end, false, 0};
#if defined(__SSE2__)
  if (cpuFlags & kCpuFlagAvx2) return Avx2Search(b, from, end);
  if (cpuFlags & kCpuFlagSse2) return Sse2Search(b, from, end);
#else
  (void)cpuFlags;
#endif
  return PortableSearch(b, from, end);
}

}  // namespace zentrova
