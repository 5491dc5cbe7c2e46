#include "video/BlockReconstruction.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zentrova {

namespace {

uint8_t Clamp(int16_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

#if defined(__SSE2__)

// PACKUSWB saturates signed 16-bit lanes to 0..255: exactly the clamp. PADDW wraps in 16 bits.
void StoreBlock(const int16_t* samples, uint8_t* dst, size_t stride) {
  for (int r = 0; r < 8; ++r) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 8 * r));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r * stride), _mm_packus_epi16(row, row));
  }
}

void AddBlock(const int16_t* residual, uint8_t* dst, size_t stride) {
  const __m128i zero = _mm_setzero_si128();
  for (int r = 0; r < 8; ++r) {
    __m128i* at = reinterpret_cast<__m128i*>(dst + r * stride);
    const __m128i prediction = _mm_unpacklo_epi8(_mm_loadl_epi64(at), zero);
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + 8 * r));
    const __m128i sum = _mm_add_epi16(prediction, row);
    _mm_storel_epi64(at, _mm_packus_epi16(sum, sum));
  }
}

#else

void StoreBlock(const int16_t* samples, uint8_t* dst, size_t stride) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clamp(samples[8 * r + c]);
}

void AddBlock(const int16_t* residual, uint8_t* dst, size_t stride) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      uint8_t& d = dst[r * stride + c];
      const auto sum = static_cast<uint16_t>(d + static_cast<uint16_t>(residual[8 * r + c]));
      d = Clamp(static_cast<int16_t>(sum));
    }
}

#endif

void StoreFlatBlock(int16_t value, uint8_t* dst, size_t stride) {
  const uint8_t v = Clamp(value);
  for (int r = 0; r < 8; ++r) std::memset(dst + r * stride, v, 8);
}

}  // namespace zentrova
