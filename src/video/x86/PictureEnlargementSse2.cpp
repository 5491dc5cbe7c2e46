// Enlargement row kernels with SSE2, sixteen source samples per step. Every average of the
// enlargement is floor((a + b) / 2) of two bytes, which is PAVGB's rounded-up average less the
// lowest bit of a XOR b; averages of averages stay bytes, so each step is exact.
#include "video/x86/PictureEnlargement.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "video/x86/ByteLanes.h"

namespace zentrova {
namespace {

using namespace byte_lanes;

// Output samples 2x .. 2x+31 from evens (at 2x) and odds (at 2x+1).
inline void StoreInterleaved(uint8_t* o, __m128i evens, __m128i odds) {
  Store(o, _mm_unpacklo_epi8(evens, odds));
  Store(o + 16, _mm_unpackhi_epi8(evens, odds));
}

}  // namespace

// A step covers x .. x+15 and reads s[x+16], so it needs x + 17 <= n; the last column and any
// remainder go to the portable kernel.
void WidenRowSse2(uint8_t* o, const uint8_t* s, int32_t n, int32_t from) {
  int32_t x = from;
  for (; x + 17 <= n; x += 16) {
    const __m128i here = Load(s + x);
    StoreInterleaved(o + 2 * x, here, FloorAverage(here, Load(s + x + 1)));
  }
  kPortableEnlargementRows.widen(o, s, n, x);
}

void DoubleRowSse2(uint8_t* e, uint8_t* d, const uint8_t* s, const uint8_t* b, int32_t n, int32_t from) {
  int32_t x = from;
  for (; x + 17 <= n; x += 16) {
    const __m128i here = Load(s + x);
    const __m128i below = Load(b + x);
    const __m128i q = FloorAverage(here, Load(s + x + 1));
    const __m128i p = FloorAverage(here, below);
    const __m128i diagonal = FloorAverage(FloorAverage(q, p), Load(b + x + 1));
    StoreInterleaved(e + 2 * x, here, q);
    StoreInterleaved(d + 2 * x, p, diagonal);
  }
  kPortableEnlargementRows.doubleRow(e, d, s, b, n, x);
}

}  // namespace zentrova

#endif  // __SSE2__
