// The plain 32-bit inverse DCT with AVX2: eight rows (then eight columns) per instruction, one
// 32-bit lane each. VPMULLD, VPADDD and VPSUBD keep the low 32 bits exactly as the wrapping
// 32-bit arithmetic of the portable code does, VPSRAD is its arithmetic shift, and each pass's
// outputs keep their low 16 bits (shifted up and back down to sign-extend them), so the result
// equals InverseDctPortable bit for bit on every input. Built for AVX2 function by function, so
// that nothing shared with the rest of the program is compiled for it. Blocks of DC alone take
// the portable short way, which is as fast as it gets.
#include "video/x86/InverseDct.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include "video/x86/ScanColumn.h"

namespace zentrova {
namespace {

// The plain variant's multipliers: even part x 2^16, odd part x 2^14.
constexpr int K4 = 46341, K2 = 60547, K6 = 25080, K1 = 16069, K7 = 3196, K3 = 13623, K5 = 9102;

#define ZENTROVA_AVX2 [[gnu::target("avx2")]] inline

ZENTROVA_AVX2 __m256i Mul(__m256i v, int k) { return _mm256_mullo_epi32(v, _mm256_set1_epi32(k)); }
ZENTROVA_AVX2 __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
ZENTROVA_AVX2 __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }

// (s + 2^16) >> 17, low 16 bits kept and sign-extended back to 32.
ZENTROVA_AVX2 __m256i Output(__m256i s) {
  const __m256i shifted = _mm256_srai_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(65536)), 17);
  return _mm256_srai_epi32(_mm256_slli_epi32(shifted, 16), 16);
}

// One-dimensional step on eight lanes at once: x[k] holds input k of every lane.
ZENTROVA_AVX2 void Step(__m256i* x) {
  const __m256i o = Mul(Add(x[0], x[4]), K4);
  const __m256i b = Mul(Sub(x[0], x[4]), K4);
  const __m256i m = Add(Mul(x[2], K2), Mul(x[6], K6));
  const __m256i a = Sub(Mul(x[2], K6), Mul(x[6], K2));
  const __m256i e0 = Add(o, m);
  const __m256i e3 = Sub(o, m);
  const __m256i e1 = Add(b, a);
  const __m256i e2 = Sub(b, a);

  const __m256i round = _mm256_set1_epi32(8192);
  const __m256i g = _mm256_srai_epi32(Add(Mul(Add(x[3], x[5]), K4), round), 14);
  const __m256i h = _mm256_srai_epi32(Add(Mul(Sub(x[3], x[5]), K4), round), 14);
  const __m256i t = _mm256_slli_epi32(x[1], 2);
  const __m256i u = _mm256_slli_epi32(x[7], 2);
  const __m256i gt = Add(g, t);
  const __m256i hu = Add(h, u);
  const __m256i tg = Sub(t, g);
  const __m256i uh = Sub(u, h);
  const __m256i v = Add(Mul(gt, K1), Mul(hu, K7));
  const __m256i w = Sub(Mul(gt, K7), Mul(hu, K1));
  const __m256i d = Sub(Mul(tg, K3), Mul(uh, K5));
  const __m256i f = Add(Mul(uh, K3), Mul(tg, K5));

  x[0] = Output(Add(e0, v));
  x[1] = Output(Add(e1, d));
  x[2] = Output(Add(e2, f));
  x[3] = Output(Add(e3, w));
  x[4] = Output(Sub(e3, w));
  x[5] = Output(Sub(e2, f));
  x[6] = Output(Sub(e1, d));
  x[7] = Output(Sub(e0, v));
}

// 8x8 transposition of 32-bit values held as eight rows.
ZENTROVA_AVX2 void Transpose(__m256i* x) {
  const __m256i a0 = _mm256_unpacklo_epi32(x[0], x[1]);
  const __m256i a1 = _mm256_unpackhi_epi32(x[0], x[1]);
  const __m256i a2 = _mm256_unpacklo_epi32(x[2], x[3]);
  const __m256i a3 = _mm256_unpackhi_epi32(x[2], x[3]);
  const __m256i a4 = _mm256_unpacklo_epi32(x[4], x[5]);
  const __m256i a5 = _mm256_unpackhi_epi32(x[4], x[5]);
  const __m256i a6 = _mm256_unpacklo_epi32(x[6], x[7]);
  const __m256i a7 = _mm256_unpackhi_epi32(x[6], x[7]);
  const __m256i b0 = _mm256_unpacklo_epi64(a0, a2);
  const __m256i b1 = _mm256_unpackhi_epi64(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi64(a1, a3);
  const __m256i b3 = _mm256_unpackhi_epi64(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi64(a4, a6);
  const __m256i b5 = _mm256_unpackhi_epi64(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi64(a5, a7);
  const __m256i b7 = _mm256_unpackhi_epi64(a5, a7);
  x[0] = _mm256_permute2x128_si256(b0, b4, 0x20);
  x[1] = _mm256_permute2x128_si256(b1, b5, 0x20);
  x[2] = _mm256_permute2x128_si256(b2, b6, 0x20);
  x[3] = _mm256_permute2x128_si256(b3, b7, 0x20);
  x[4] = _mm256_permute2x128_si256(b0, b4, 0x31);
  x[5] = _mm256_permute2x128_si256(b1, b5, 0x31);
  x[6] = _mm256_permute2x128_si256(b2, b6, 0x31);
  x[7] = _mm256_permute2x128_si256(b3, b7, 0x31);
}

}  // namespace

namespace {

// Both passes on x[k] lane r = natural coefficient (row r, column k): the rows' inputs side by
// side. The samples are stored row by row.
ZENTROVA_AVX2 void TransformColumns(__m256i* x, int16_t* samples) {
  Step(x);        // the rows: x[k] lane r = row r, output k
  Transpose(x);   // x[r] lane k = row r, column k: the columns' inputs side by side
  Step(x);        // the columns: x[r] lane k = sample (row r, column k)
  // Every lane holds a sign-extended 16-bit value, so the saturating pack is exact.
#pragma GCC unroll 4
  for (int r = 0; r < 8; r += 2) {
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(x[r], x[r + 1]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 8 * r), packed);
  }
}

}  // namespace

[[gnu::target("avx2")]] void InverseDctAvx2(const int16_t* coefficients, int16_t* samples) {
  if (FillPlainDcAlone(coefficients, samples)) return;
  __m256i x[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) x[k] = _mm256_cvtepi16_epi32(ScanColumn(coefficients, k));
  TransformColumns(x, samples);
}

[[gnu::target("avx2")]] void InverseDctAvx2Columns(const int16_t* columns, int16_t* samples) {
  if (FillPlainDcAlone(columns, samples)) return;
  __m256i x[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k)
    x[k] = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 8 * k)));
  TransformColumns(x, samples);
}

}  // namespace zentrova

#endif  // __SSE2__
