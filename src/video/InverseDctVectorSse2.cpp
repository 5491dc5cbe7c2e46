// The 16-bit saturating-lane inverse DCT with SSE2: eight lanes (all eight array columns) per
// instruction. Lanes never interact, so processing eight at once instead of four gives the same
// bits as the scalar emulation. The exact 32-bit products and their wrapping sums come from
// PMADDWD on interleaved pairs: with our multipliers (none is -32768) each pair sum is exact in
// 32 bits, and the later PADDD/PSUBD wrap modulo 2^32 as the lane arithmetic requires.
#include "video/InverseDct.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <algorithm>

#include "video/InverseDctVectorLanes.h"

namespace zentrova {
namespace {

using namespace vector_idct;

// Pairs for PMADDWD: lane 2i holds the first multiplier, lane 2i+1 the second.
inline __m128i Pair(int16_t first, int16_t second) {
  return _mm_set_epi16(second, first, second, first, second, first, second, first);
}

// 32-bit results of first * a + second * b for lanes 0..3 (lo) and 4..7 (hi).
struct Wide {
  __m128i lo;
  __m128i hi;
};

inline Wide MultiplyAdd(__m128i a, __m128i b, __m128i pair) {
  return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), pair), _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pair)};
}
inline Wide Add(Wide a, Wide b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
inline Wide Sub(Wide a, Wide b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }

// c = sat(sat(z >> 16) + 2): the saturating pack is exact because z >> 16 fits 16 bits.
inline __m128i RoundOutput(Wide z) {
  const __m128i c = _mm_packs_epi32(_mm_srai_epi32(z.lo, 16), _mm_srai_epi32(z.hi, 16));
  return _mm_adds_epi16(c, _mm_set1_epi16(2));
}

enum class Pass { First, Second };

// x[k] holds array row k (lane j = column j); the results replace it.
template <Pass pass>
inline void TransformRows(__m128i* x) {
  if constexpr (pass == Pass::First) {
    x[0] = _mm_slli_epi16(x[0], 2);
    x[1] = _mm_slli_epi16(x[1], 2);
    x[2] = _mm_slli_epi16(x[2], 2);
    x[4] = _mm_slli_epi16(x[4], 2);
    x[6] = _mm_slli_epi16(x[6], 2);
    x[7] = _mm_slli_epi16(x[7], 2);
    x[3] = _mm_slli_epi16(x[3], 4);
    x[5] = _mm_slli_epi16(x[5], 4);
  } else {
    x[3] = _mm_slli_epi16(x[3], 2);
    x[5] = _mm_slli_epi16(x[5], 2);
  }

  // Even part. s and q share one interleave: (s, q) . (K4, 0) and (s, q) . (0, K4).
  const __m128i s = _mm_adds_epi16(x[0], x[4]);
  const __m128i q = _mm_subs_epi16(x[0], x[4]);
  const Wide sk = MultiplyAdd(s, q, Pair(kCos4, 0));
  const Wide qk = MultiplyAdd(s, q, Pair(0, kCos4));
  const Wide m = MultiplyAdd(x[2], x[6], Pair(kCos2, kSin2));
  const Wide a = MultiplyAdd(x[2], x[6], Pair(kSin2, static_cast<int16_t>(-kCos2)));
  const Wide e0 = Add(sk, m);
  const Wide e3 = Sub(sk, m);
  const Wide e1 = Add(qk, a);
  const Wide e2 = Sub(qk, a);

  // Odd part: the cos(pi/4) products keep their high half only.
  const __m128i one = _mm_set1_epi16(1);
  const __m128i cos4 = _mm_set1_epi16(kCos4);
  const __m128i g = _mm_srai_epi16(_mm_adds_epi16(_mm_mulhi_epi16(_mm_adds_epi16(x[3], x[5]), cos4), one), 1);
  const __m128i h = _mm_srai_epi16(_mm_adds_epi16(_mm_mulhi_epi16(_mm_subs_epi16(x[3], x[5]), cos4), one), 1);
  const __m128i p = _mm_adds_epi16(x[1], g);
  const __m128i n = _mm_subs_epi16(x[1], g);
  const __m128i r = _mm_adds_epi16(x[7], h);
  const __m128i k = _mm_subs_epi16(x[7], h);
  const Wide v = MultiplyAdd(p, r, Pair(kCos1, kSin1));
  const Wide w = MultiplyAdd(p, r, Pair(kSin1, static_cast<int16_t>(-kCos1)));
  const Wide d = MultiplyAdd(n, k, Pair(kCos3, static_cast<int16_t>(-kSin3)));
  const Wide f = MultiplyAdd(n, k, Pair(kSin3, kCos3));

  __m128i c[8] = {
      RoundOutput(Add(e0, v)), RoundOutput(Add(e1, d)), RoundOutput(Add(e2, f)), RoundOutput(Add(e3, w)),
      RoundOutput(Sub(e3, w)), RoundOutput(Sub(e2, f)), RoundOutput(Sub(e1, d)), RoundOutput(Sub(e0, v)),
  };
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) {
    if constexpr (pass == Pass::First) {
      x[i] = _mm_and_si128(c[i], _mm_set1_epi16(static_cast<int16_t>(0xFFFC)));
    } else {
      x[i] = _mm_srai_epi16(c[i], 2);
    }
  }
}

// 8x8 transposition of 16-bit values held as eight rows.
inline void Transpose(__m128i* x) {
  const __m128i a0 = _mm_unpacklo_epi16(x[0], x[1]);
  const __m128i a1 = _mm_unpackhi_epi16(x[0], x[1]);
  const __m128i a2 = _mm_unpacklo_epi16(x[2], x[3]);
  const __m128i a3 = _mm_unpackhi_epi16(x[2], x[3]);
  const __m128i a4 = _mm_unpacklo_epi16(x[4], x[5]);
  const __m128i a5 = _mm_unpackhi_epi16(x[4], x[5]);
  const __m128i a6 = _mm_unpacklo_epi16(x[6], x[7]);
  const __m128i a7 = _mm_unpackhi_epi16(x[6], x[7]);

  const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
  const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
  const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
  const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
  const __m128i b7 = _mm_unpackhi_epi32(a5, a7);

  x[0] = _mm_unpacklo_epi64(b0, b4);
  x[1] = _mm_unpackhi_epi64(b0, b4);
  x[2] = _mm_unpacklo_epi64(b1, b5);
  x[3] = _mm_unpackhi_epi64(b1, b5);
  x[4] = _mm_unpacklo_epi64(b2, b6);
  x[5] = _mm_unpackhi_epi64(b2, b6);
  x[6] = _mm_unpacklo_epi64(b3, b7);
  x[7] = _mm_unpackhi_epi64(b3, b7);
}

// True when every coefficient after the DC term is zero.
inline bool DcAlone(const int16_t* coefficients) {
  const __m128i* in = reinterpret_cast<const __m128i*>(coefficients);
  __m128i any = _mm_and_si128(_mm_loadu_si128(in), _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
#pragma GCC unroll 8
  for (int k = 1; k < 8; ++k) any = _mm_or_si128(any, _mm_loadu_si128(in + k));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
}

// The lane arithmetic for a block of DC alone, bit for bit: in pass 1 only the lane of natural
// row 0 is non-zero, every odd term is 0 (the +1 rounding of g and h is shifted out) and all its
// outputs equal c1; the other lanes give sat(0 + 2) & 0xFFFC = 0. Pass 2 sees c1 as x0 of every
// lane and nothing else.
inline int16_t DcAloneSample(int16_t dc) {
  const int32_t x0 = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(dc) << 2));
  const int32_t first = std::min((kCos4 * x0 >> 16) + 2, 32767);
  const int32_t c1 = static_cast<int16_t>(static_cast<uint16_t>(first) & 0xFFFCu);
  return static_cast<int16_t>(std::min((kCos4 * c1 >> 16) + 2, 32767) >> 2);
}

}  // namespace

namespace {

// Both passes on x[k] = natural column k (lane j = row j), the samples stored row by row.
inline void TransformColumns(__m128i* x, int16_t* samples) {
  TransformRows<Pass::First>(x);
  Transpose(x);
  TransformRows<Pass::Second>(x);
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + 8 * k), x[k]);
}

// True, with the flat block stored, when every coefficient after the DC term (index 0 in both
// layouts) is zero.
inline bool StoredDcAlone(const int16_t* coefficients, int16_t* samples) {
  if (!DcAlone(coefficients)) return false;
  const __m128i value = _mm_set1_epi16(DcAloneSample(coefficients[0]));
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + 8 * k), value);
  return true;
}

}  // namespace

void InverseDctVectorSse2(const int16_t* coefficients, int16_t* samples) {
  if (StoredDcAlone(coefficients, samples)) return;
  __m128i x[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    const uint8_t* z = kTransposedZigzag.data() + 8 * k;
    const int16_t* c = coefficients;
    x[k] = _mm_set_epi16(c[z[7]], c[z[6]], c[z[5]], c[z[4]], c[z[3]], c[z[2]], c[z[1]], c[z[0]]);
  }
  TransformColumns(x, samples);
}

void InverseDctVectorSse2Columns(const int16_t* columns, int16_t* samples) {
  if (StoredDcAlone(columns, samples)) return;
  __m128i x[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) x[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 8 * k));
  TransformColumns(x, samples);
}

}  // namespace zentrova

#endif  // __SSE2__
