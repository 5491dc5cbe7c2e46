#pragma once
// Row kernels of the picture enlargement. Each handles the columns from `from` to the end of the
// row, so a SIMD kernel can finish its row with the portable one.
#include <cstdint>

namespace zentrova {

// The enlargement's kernel table, chosen once for the process (video/VideoDsp.h).
struct EnlargementRows {
  // o[2x] = s[x], o[2x+1] = (s[x] + s[x+1]) >> 1; the last sample repeated.
  void (*widen)(uint8_t* o, const uint8_t* s, int32_t n, int32_t from);
  // Even output row e and odd output row d from source row s and the row below it, b.
  void (*doubleRow)(uint8_t* e, uint8_t* d, const uint8_t* s, const uint8_t* b, int32_t n, int32_t from);
};

// The portable kernels: the reference for the SIMD ones.
extern const EnlargementRows kPortableEnlargementRows;

// The portable kernels, then those of every level in `cpuFlags` (base/CpuFlags.h).
void InitEnlargementRows(EnlargementRows& rows, uint32_t cpuFlags);

}  // namespace zentrova
