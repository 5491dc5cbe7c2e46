#pragma once
// The plane row kernels built with x86 vector instructions, and the rung of the init ladder that
// installs them over the portable ones.
#include <cstddef>
#include <cstdint>

#include "base/CpuFlags.h"
#include "video/PlaneRows.h"

#if defined(__SSE2__)
namespace zentrova {

void AverageRowsSse2(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n);
void WritePlaneRowSse2(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
                       SampleRange range, int32_t row);
void WritePlaneRowAvx2(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
                       SampleRange range, int32_t row);

// The SSE2 steps from column `from` on, then the portable ones: how the AVX2 kernel finishes.
void WritePlaneRowSse2From(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width,
                           RowDoubling doubling, SampleRange range, int32_t row, int32_t from);

inline void InitPlaneRowsX86(PlaneRowsDsp& dsp, uint32_t flags) {
  if (!(flags & kCpuFlagSse2)) return;
  dsp.averageRows = AverageRowsSse2;
  dsp.writeRow = WritePlaneRowSse2;
  if (!(flags & kCpuFlagSsse3)) return;
  if (!(flags & kCpuFlagAvx2)) return;
  dsp.writeRow = WritePlaneRowAvx2;
}

}  // namespace zentrova
#endif  // __SSE2__
