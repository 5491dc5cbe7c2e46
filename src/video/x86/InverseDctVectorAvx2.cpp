// The 16-bit saturating-lane inverse DCT with AVX2, two blocks at once: each 128-bit half of a
// register carries one block exactly as the SSE2 code carries it (InverseDctVectorFlow.h), so
// each half gives the SSE2 code's bits for its own block. Only this file's own code is built for
// AVX2: the headers outside the target region keep their ordinary build.
#include "video/x86/InverseDct.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include "video/InverseDctVectorLanes.h"

// Everything defined from here on is built for AVX2, the shared flow's templates included.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "video/x86/InverseDctVectorFlow.h"

namespace zentrova {
namespace {

// The instructions of InverseDctVectorFlow.h on two blocks, one per 128-bit half.
struct Avx2Lanes {
  using Reg = __m256i;
  static Reg AddSat(Reg a, Reg b) { return _mm256_adds_epi16(a, b); }
  static Reg SubSat(Reg a, Reg b) { return _mm256_subs_epi16(a, b); }
  static Reg MulHigh(Reg a, Reg b) { return _mm256_mulhi_epi16(a, b); }
  static Reg Madd(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
  static Reg Add32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
  static Reg Sub32(Reg a, Reg b) { return _mm256_sub_epi32(a, b); }
  static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
  static Reg PackSigned32(Reg a, Reg b) { return _mm256_packs_epi32(a, b); }
  static Reg Splat16(int16_t v) { return _mm256_set1_epi16(v); }
  static Reg Splat32(int32_t v) { return _mm256_set1_epi32(v); }
  template <int bits>
  static Reg ShiftLeft(Reg a) {
    return _mm256_slli_epi16(a, bits);
  }
  template <int bits>
  static Reg ShiftRight16(Reg a) {
    return _mm256_srai_epi16(a, bits);
  }
  template <int bits>
  static Reg ShiftRight32(Reg a) {
    return _mm256_srai_epi32(a, bits);
  }
  static Reg UnpackLo16(Reg a, Reg b) { return _mm256_unpacklo_epi16(a, b); }
  static Reg UnpackHi16(Reg a, Reg b) { return _mm256_unpackhi_epi16(a, b); }
  static Reg UnpackLo32(Reg a, Reg b) { return _mm256_unpacklo_epi32(a, b); }
  static Reg UnpackHi32(Reg a, Reg b) { return _mm256_unpackhi_epi32(a, b); }
  static Reg UnpackLo64(Reg a, Reg b) { return _mm256_unpacklo_epi64(a, b); }
  static Reg UnpackHi64(Reg a, Reg b) { return _mm256_unpackhi_epi64(a, b); }
};

}  // namespace

void InverseDctVectorAvx2ColumnPair(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                                    int16_t* secondSamples) {
  // x[k]: natural column k of the first block in the low half, of the second in the high half.
  __m256i x[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 8 * k));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 8 * k));
    x[k] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  }
  vector_flow::TransformColumns<Avx2Lanes>(x);
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(firstSamples + 8 * k), _mm256_castsi256_si128(x[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(secondSamples + 8 * k), _mm256_extracti128_si256(x[k], 1));
  }
}

}  // namespace zentrova

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // __SSE2__
