// The G.726 decoder with AVX2: the eight FMULTs of a sample in 32-bit lanes of one register
// (G726DecodeFlow.h). The coefficient's exponent and mantissa come from its float as in the SSE2
// kernel; the scaling of WM by 2^WE is done by shifts of variable count, WM << WE and WM >> -WE:
// a negative count, read as unsigned, shifts everything out, so the two are ORed (at WE = 0 both
// are WM). Only this file's own code is built for AVX2: the headers outside the target region keep
// their ordinary build.
#include "audio/x86/G726Decoder.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include "base/Avx2Region.h"

// Everything defined from here on is built for AVX2, the shared flow's template included.
ZENTROVA_BEGIN_AVX2_REGION

#include "audio/x86/G726DecodeFlow.h"

namespace zentrova {
namespace {

// FMULT of every lane, in 32 bits: coefficient >> 2 times the signal in its floating form.
inline __m256i FmultLanes(__m128i coefficients, __m128i signals) {
  const __m256i an = _mm256_srai_epi32(_mm256_cvtepi16_epi32(coefficients), 2);
  const __m256i sr = _mm256_cvtepi16_epi32(signals);
  // |An|, where the most negative An (-8192) wraps to 0 as in the standard's 13-bit magnitude.
  const __m256i m = _mm256_and_si256(_mm256_abs_epi32(an), _mm256_set1_epi32(0x1FFF));
  const __m256i bits = _mm256_castps_si256(_mm256_cvtepi32_ps(m));
  const __m256i mant = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(bits, 18), _mm256_set1_epi32(31)),
                                       _mm256_set1_epi32(32));
  // The exponent field less 126, and 0 for a magnitude of 0 (field 0): an unsigned saturating
  // subtraction in the lane's low half, whose high half is 0.
  const __m256i bitLength = _mm256_subs_epu16(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(126));

  const __m256i srExp = _mm256_and_si256(_mm256_srli_epi32(sr, 6), _mm256_set1_epi32(15));
  const __m256i srMant = _mm256_and_si256(sr, _mm256_set1_epi32(63));
  const __m256i we = _mm256_add_epi32(bitLength, _mm256_sub_epi32(srExp, _mm256_set1_epi32(19)));
  // Both factors are below 64, so the 16-bit product in the low half is the whole product.
  const __m256i wm = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi16(mant, srMant), _mm256_set1_epi32(48)), 4);
  const __m256i left = _mm256_and_si256(_mm256_sllv_epi32(wm, we), _mm256_set1_epi32(0x7FFF));
  const __m256i right = _mm256_srlv_epi32(wm, _mm256_sub_epi32(_mm256_setzero_si256(), we));
  const __m256i r = _mm256_or_si256(left, right);

  const __m256i negative = _mm256_srai_epi32(_mm256_xor_si256(an, sr), 31);
  return _mm256_sub_epi32(_mm256_xor_si256(r, negative), negative);
}

struct Avx2Predictor {
  static g726_flow::PredictorSums Sums(__m128i coefficients, __m128i signals) {
    const __m256i products = FmultLanes(coefficients, signals);
    const __m128i low = _mm256_castsi256_si128(products);
    const __m128i high = _mm256_extracti128_si256(products, 1);
    // Lanes 0..3 and 4..5 are zeros, 6 and 7 the poles: [z0 z1 z2 z3] + [z4 z5 0 0], and [p6 p7].
    const __m128i zeros = _mm_add_epi32(low, _mm_unpacklo_epi64(high, _mm_setzero_si128()));
    const __m128i poles = _mm_unpackhi_epi64(high, _mm_setzero_si128());
    const __m128i halves = _mm_hadd_epi32(zeros, poles);   // z0+z1 z2+z3 p6+p7 0
    const __m128i sums = _mm_hadd_epi32(halves, halves);  // zeros, poles
    return {_mm_cvtsi128_si32(sums), _mm_extract_epi32(sums, 1)};
  }
};

}  // namespace

void G726DecodeRunAvx2(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state) {
  g726_flow::DecodeRunWith<Avx2Predictor>(codes, samples, count, state);
}

}  // namespace zentrova

ZENTROVA_END_AVX2_REGION

#endif  // __SSE2__
