// The G.726 decoder with SSE2: the eight FMULTs of a sample in 16-bit lanes (G726DecodeFlow.h).
// The exponent and the six-bit mantissa of a coefficient's magnitude (below 2^13) are read from
// its single-precision float, which holds it exactly: the exponent field is 126 + its bit length,
// and the fraction's top five bits are the mantissa's below its leading one; a magnitude of 0
// gives the field 0, hence bit length 0 and mantissa 32, as FMULT wants. The partial product WM
// (3 to 251, since it adds 48 before dropping four bits) is scaled by 2^WE (WE from -19 to 9) by
// adding WE to its float's exponent field: exact, and truncated back to an integer it is WM << WE
// or WM >> -WE; the mask keeps FMULT's 15 bits.
#include "audio/x86/G726Decoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "audio/x86/G726DecodeFlow.h"

namespace zentrova {
namespace {

// FMULT of every lane: coefficient >> 2 times the signal in its floating form.
inline __m128i Fmult8(__m128i coefficients, __m128i signals) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i an = _mm_srai_epi16(coefficients, 2);
  const __m128i anSign = _mm_srai_epi16(an, 15);
  // |An|, where the most negative An (-8192) wraps to 0 as in the standard's 13-bit magnitude.
  const __m128i m = _mm_and_si128(_mm_sub_epi16(_mm_xor_si128(an, anSign), anSign), _mm_set1_epi16(0x1FFF));
  const __m128i mLow = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpacklo_epi16(m, zero)));
  const __m128i mHigh = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpackhi_epi16(m, zero)));
  // Exponent field and the fraction's top five bits, (field << 5) | fraction, at most 4479.
  const __m128i top = _mm_packs_epi32(_mm_srli_epi32(mLow, 18), _mm_srli_epi32(mHigh, 18));
  const __m128i mant = _mm_or_si128(_mm_and_si128(top, _mm_set1_epi16(31)), _mm_set1_epi16(32));
  const __m128i bitLength =
      _mm_sub_epi16(_mm_max_epi16(_mm_srli_epi16(top, 5), _mm_set1_epi16(126)), _mm_set1_epi16(126));

  const __m128i srExp = _mm_and_si128(_mm_srli_epi16(signals, 6), _mm_set1_epi16(15));
  const __m128i srMant = _mm_and_si128(signals, _mm_set1_epi16(63));
  const __m128i we = _mm_add_epi16(bitLength, _mm_sub_epi16(srExp, _mm_set1_epi16(19)));
  const __m128i wm = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(mant, srMant), _mm_set1_epi16(48)), 4);

  // WM x 2^WE through the float's exponent field; WE sits in the upper half of each 32-bit lane
  // first, so the shift to the field keeps its sign.
  const __m128i wmLow = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpacklo_epi16(wm, zero)));
  const __m128i wmHigh = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpackhi_epi16(wm, zero)));
  const __m128i weLow = _mm_slli_epi32(_mm_unpacklo_epi16(zero, we), 7);
  const __m128i weHigh = _mm_slli_epi32(_mm_unpackhi_epi16(zero, we), 7);
  const __m128i mask = _mm_set1_epi32(0x7FFF);
  const __m128i rLow = _mm_and_si128(_mm_cvttps_epi32(_mm_castsi128_ps(_mm_add_epi32(wmLow, weLow))), mask);
  const __m128i rHigh = _mm_and_si128(_mm_cvttps_epi32(_mm_castsi128_ps(_mm_add_epi32(wmHigh, weHigh))), mask);
  const __m128i r = _mm_packs_epi32(rLow, rHigh);

  const __m128i negative = _mm_srai_epi16(_mm_xor_si128(an, signals), 15);
  return _mm_sub_epi16(_mm_xor_si128(r, negative), negative);
}

struct Sse2Predictor {
  static g726_flow::PredictorSums Sums(__m128i coefficients, __m128i signals) {
    const __m128i pairs = _mm_madd_epi16(Fmult8(coefficients, signals), _mm_set1_epi16(1));
    const int zeros = _mm_cvtsi128_si32(pairs) + _mm_cvtsi128_si32(_mm_shuffle_epi32(pairs, 1)) +
                      _mm_cvtsi128_si32(_mm_shuffle_epi32(pairs, 2));
    return {zeros, _mm_cvtsi128_si32(_mm_shuffle_epi32(pairs, 3))};
  }
};

}  // namespace

void G726DecodeRunSse2(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state) {
  g726_flow::DecodeRunWith<Sse2Predictor>(codes, samples, count, state);
}

}  // namespace zentrova
#endif  // __SSE2__
