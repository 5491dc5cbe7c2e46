// The 16-bit saturating-lane inverse DCT with AVX2, two blocks at once: each 128-bit half of a
// register carries one block exactly as the SSE2 code carries it, and every instruction used
// (saturating adds, PMADDWD, the packs, the unpacks of the transposition) works within its half,
// so each half gives the SSE2 code's bits for its own block. Built for AVX2 function by
// function; InverseDctVectorPairColumns calls it only where the processor has AVX2.
#include "video/InverseDct.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include "video/InverseDctVectorLanes.h"

namespace zentrova {
namespace {

using namespace vector_idct;

#define ZENTROVA_AVX2 [[gnu::target("avx2")]] inline

// Pairs for PMADDWD: lane 2i holds the first multiplier, lane 2i+1 the second.
ZENTROVA_AVX2 __m256i Pair(int16_t first, int16_t second) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16 |
                                                static_cast<uint16_t>(first)));
}

// 32-bit results of first * a + second * b for lanes 0..3 (lo) and 4..7 (hi) of each half.
struct Wide {
  __m256i lo;
  __m256i hi;
};

ZENTROVA_AVX2 Wide MultiplyAdd(__m256i a, __m256i b, __m256i pair) {
  return {_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), pair), _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), pair)};
}
ZENTROVA_AVX2 Wide Add(Wide a, Wide b) { return {_mm256_add_epi32(a.lo, b.lo), _mm256_add_epi32(a.hi, b.hi)}; }
ZENTROVA_AVX2 Wide Sub(Wide a, Wide b) { return {_mm256_sub_epi32(a.lo, b.lo), _mm256_sub_epi32(a.hi, b.hi)}; }

// c = sat(sat(z >> 16) + 2): the saturating pack is exact because z >> 16 fits 16 bits.
ZENTROVA_AVX2 __m256i RoundOutput(Wide z) {
  const __m256i c = _mm256_packs_epi32(_mm256_srai_epi32(z.lo, 16), _mm256_srai_epi32(z.hi, 16));
  return _mm256_adds_epi16(c, _mm256_set1_epi16(2));
}

enum class Pass { First, Second };

// x[k] holds array row k of both blocks (lane j of a half = column j); the results replace it.
template <Pass pass>
ZENTROVA_AVX2 void TransformRows(__m256i* x) {
  if constexpr (pass == Pass::First) {
    x[0] = _mm256_slli_epi16(x[0], 2);
    x[1] = _mm256_slli_epi16(x[1], 2);
    x[2] = _mm256_slli_epi16(x[2], 2);
    x[4] = _mm256_slli_epi16(x[4], 2);
    x[6] = _mm256_slli_epi16(x[6], 2);
    x[7] = _mm256_slli_epi16(x[7], 2);
    x[3] = _mm256_slli_epi16(x[3], 4);
    x[5] = _mm256_slli_epi16(x[5], 4);
  } else {
    x[3] = _mm256_slli_epi16(x[3], 2);
    x[5] = _mm256_slli_epi16(x[5], 2);
  }

  // Even part.
  const __m256i s = _mm256_adds_epi16(x[0], x[4]);
  const __m256i q = _mm256_subs_epi16(x[0], x[4]);
  const Wide sk = MultiplyAdd(s, q, Pair(kCos4, 0));
  const Wide qk = MultiplyAdd(s, q, Pair(0, kCos4));
  const Wide m = MultiplyAdd(x[2], x[6], Pair(kCos2, kSin2));
  const Wide a = MultiplyAdd(x[2], x[6], Pair(kSin2, static_cast<int16_t>(-kCos2)));
  const Wide e0 = Add(sk, m);
  const Wide e3 = Sub(sk, m);
  const Wide e1 = Add(qk, a);
  const Wide e2 = Sub(qk, a);

  // Odd part: the cos(pi/4) products keep their high half only.
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i cos4 = _mm256_set1_epi16(kCos4);
  const __m256i g =
      _mm256_srai_epi16(_mm256_adds_epi16(_mm256_mulhi_epi16(_mm256_adds_epi16(x[3], x[5]), cos4), one), 1);
  const __m256i h =
      _mm256_srai_epi16(_mm256_adds_epi16(_mm256_mulhi_epi16(_mm256_subs_epi16(x[3], x[5]), cos4), one), 1);
  const __m256i p = _mm256_adds_epi16(x[1], g);
  const __m256i n = _mm256_subs_epi16(x[1], g);
  const __m256i r = _mm256_adds_epi16(x[7], h);
  const __m256i k = _mm256_subs_epi16(x[7], h);
  const Wide v = MultiplyAdd(p, r, Pair(kCos1, kSin1));
  const Wide w = MultiplyAdd(p, r, Pair(kSin1, static_cast<int16_t>(-kCos1)));
  const Wide d = MultiplyAdd(n, k, Pair(kCos3, static_cast<int16_t>(-kSin3)));
  const Wide f = MultiplyAdd(n, k, Pair(kSin3, kCos3));

  __m256i c[8] = {
      RoundOutput(Add(e0, v)), RoundOutput(Add(e1, d)), RoundOutput(Add(e2, f)), RoundOutput(Add(e3, w)),
      RoundOutput(Sub(e3, w)), RoundOutput(Sub(e2, f)), RoundOutput(Sub(e1, d)), RoundOutput(Sub(e0, v)),
  };
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) {
    if constexpr (pass == Pass::First) {
      x[i] = _mm256_and_si256(c[i], _mm256_set1_epi16(static_cast<int16_t>(0xFFFC)));
    } else {
      x[i] = _mm256_srai_epi16(c[i], 2);
    }
  }
}

// 8x8 transposition of 16-bit values held as eight rows, in each half separately.
ZENTROVA_AVX2 void Transpose(__m256i* x) {
  const __m256i a0 = _mm256_unpacklo_epi16(x[0], x[1]);
  const __m256i a1 = _mm256_unpackhi_epi16(x[0], x[1]);
  const __m256i a2 = _mm256_unpacklo_epi16(x[2], x[3]);
  const __m256i a3 = _mm256_unpackhi_epi16(x[2], x[3]);
  const __m256i a4 = _mm256_unpacklo_epi16(x[4], x[5]);
  const __m256i a5 = _mm256_unpackhi_epi16(x[4], x[5]);
  const __m256i a6 = _mm256_unpacklo_epi16(x[6], x[7]);
  const __m256i a7 = _mm256_unpackhi_epi16(x[6], x[7]);

  const __m256i b0 = _mm256_unpacklo_epi32(a0, a2);
  const __m256i b1 = _mm256_unpackhi_epi32(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi32(a1, a3);
  const __m256i b3 = _mm256_unpackhi_epi32(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi32(a4, a6);
  const __m256i b5 = _mm256_unpackhi_epi32(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi32(a5, a7);
  const __m256i b7 = _mm256_unpackhi_epi32(a5, a7);

  x[0] = _mm256_unpacklo_epi64(b0, b4);
  x[1] = _mm256_unpackhi_epi64(b0, b4);
  x[2] = _mm256_unpacklo_epi64(b1, b5);
  x[3] = _mm256_unpackhi_epi64(b1, b5);
  x[4] = _mm256_unpacklo_epi64(b2, b6);
  x[5] = _mm256_unpackhi_epi64(b2, b6);
  x[6] = _mm256_unpacklo_epi64(b3, b7);
  x[7] = _mm256_unpackhi_epi64(b3, b7);
}

}  // namespace

[[gnu::target("avx2")]] void InverseDctVectorAvx2PairColumns(const int16_t* first, const int16_t* second,
                                                             int16_t* firstSamples, int16_t* secondSamples) {
  // x[k]: natural column k of the first block in the low half, of the second in the high half.
  __m256i x[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 8 * k));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 8 * k));
    x[k] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  }
  TransformRows<Pass::First>(x);
  Transpose(x);
  TransformRows<Pass::Second>(x);
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(firstSamples + 8 * k), _mm256_castsi256_si128(x[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(secondSamples + 8 * k), _mm256_extracti128_si256(x[k], 1));
  }
}

}  // namespace zentrova

#endif  // __SSE2__
