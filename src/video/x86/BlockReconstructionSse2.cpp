// The block writes with SSE2, one row of eight samples per step. PACKUSWB saturates signed
// 16-bit lanes to 0..255, which is exactly the clamp; PADDW wraps in 16 bits, as the sum of
// prediction and residual is defined to.
#include "video/x86/BlockReconstruction.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace zentrova {

void StoreBlockSse2(const int16_t* samples, uint8_t* dst, size_t stride) {
  for (int r = 0; r < 8; ++r) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 8 * r));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r * stride), _mm_packus_epi16(row, row));
  }
}

void AddBlockSse2(const int16_t* residual, uint8_t* dst, size_t stride) {
  const __m128i zero = _mm_setzero_si128();
  for (int r = 0; r < 8; ++r) {
    __m128i* at = reinterpret_cast<__m128i*>(dst + r * stride);
    const __m128i prediction = _mm_unpacklo_epi8(_mm_loadl_epi64(at), zero);
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + 8 * r));
    const __m128i sum = _mm_add_epi16(prediction, row);
    _mm_storel_epi64(at, _mm_packus_epi16(sum, sum));
  }
}

}  // namespace zentrova
#endif  // __SSE2__
