#pragma once
// Row kernels of the picture enlargement. Each handles the columns from `from` to the end of the
// row, so a SIMD kernel can finish its row with the portable one.
#include <cstdint>

namespace zentrova {

struct EnlargementRows {
  // o[2x] = s[x], o[2x+1] = (s[x] + s[x+1]) >> 1; the last sample repeated.
  void (*widen)(uint8_t* o, const uint8_t* s, int32_t n, int32_t from);
  // Even output row e and odd output row d from source row s and the row below it, b.
  void (*doubleRow)(uint8_t* e, uint8_t* d, const uint8_t* s, const uint8_t* b, int32_t n, int32_t from);
};

extern const EnlargementRows kPortableEnlargementRows;
#if defined(__SSE2__)
extern const EnlargementRows kSse2EnlargementRows;
#endif

}  // namespace zentrova
