#pragma once
// Gathering a block in transmission order into registers, one natural column each.
#include <emmintrin.h>

#include <cstdint>

#include "video/InverseDctVectorLanes.h"

namespace zentrova {

// Natural column k of the block whose coefficients come in transmission (zigzag) order: lane j
// holds the coefficient of row j. The column-by-column layout loads the same register directly.
inline __m128i ScanColumn(const int16_t* coefficients, int k) {
  const uint8_t* z = vector_idct::kTransposedZigzag.data() + 8 * k;
  const int16_t* c = coefficients;
  return _mm_set_epi16(c[z[7]], c[z[6]], c[z[5]], c[z[4]], c[z[3]], c[z[2]], c[z[1]], c[z[0]]);
}

}  // namespace zentrova
