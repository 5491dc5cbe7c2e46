#pragma once
// The enlargement's row kernels built with x86 vector instructions, and the rung of the init
// ladder that installs them over the portable ones.
#include <cstdint>

#include "base/CpuFlags.h"
#include "video/PictureEnlargementRows.h"

#if defined(__SSE2__)
namespace zentrova {

// Sixteen source samples per step.
void WidenRowSse2(uint8_t* o, const uint8_t* s, int32_t n, int32_t from);
void DoubleRowSse2(uint8_t* e, uint8_t* d, const uint8_t* s, const uint8_t* b, int32_t n, int32_t from);

inline void InitEnlargementRowsX86(EnlargementRows& rows, uint32_t flags) {
  if (!(flags & kCpuFlagSse2)) return;
  rows.widen = WidenRowSse2;
  rows.doubleRow = DoubleRowSse2;
}

}  // namespace zentrova
#endif  // __SSE2__
