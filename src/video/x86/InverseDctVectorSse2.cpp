// The 16-bit saturating-lane inverse DCT with SSE2: eight lanes (all eight array columns) per
// instruction. Lanes never interact, so processing eight at once instead of four gives the same
// bits as the scalar emulation; the flow itself is InverseDctVectorFlow.h.
#include "video/x86/InverseDct.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <algorithm>

#include "video/InverseDctVectorLanes.h"
#include "video/x86/InverseDctVectorFlow.h"
#include "video/x86/InverseDctVectorInstructions.h"
#include "video/x86/ScanColumn.h"

namespace zentrova {
namespace {

using namespace vector_idct;

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

// Both passes on x[k] = natural column k (lane j = row j), the samples stored row by row.
inline void TransformColumns(__m128i* x, int16_t* samples) {
  vector_flow::TransformColumns<vector_flow::X86Lanes<128>>(x);
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
  for (int k = 0; k < 8; ++k) x[k] = ScanColumn(coefficients, k);
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
