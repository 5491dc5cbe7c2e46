// The 16-bit saturating-lane inverse DCT with AVX2, two blocks at once: each 128-bit half of a
// register carries one block exactly as the SSE2 code carries it (InverseDctVectorFlow.h), so
// each half gives the SSE2 code's bits for its own block. Only this file's own code is built for
// AVX2: the headers outside the target region keep their ordinary build.
#include "video/x86/InverseDct.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include "base/Avx2Region.h"

#include "video/InverseDctVectorLanes.h"

// Everything defined from here on is built for AVX2, the shared flow's templates included.
ZENTROVA_BEGIN_AVX2_REGION

#include "video/x86/InverseDctVectorFlow.h"
#include "video/x86/InverseDctVectorInstructions.h"

namespace zentrova {

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
  vector_flow::TransformColumns<vector_flow::X86Lanes<256>>(x);
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(firstSamples + 8 * k), _mm256_castsi256_si128(x[k]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(secondSamples + 8 * k), _mm256_extracti128_si256(x[k], 1));
  }
}

}  // namespace zentrova

ZENTROVA_END_AVX2_REGION

#endif  // __SSE2__
