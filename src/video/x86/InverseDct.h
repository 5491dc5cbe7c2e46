#pragma once
// The inverse DCT kernels built with x86 vector instructions, and the rungs of the init ladder
// that install them over the portable ones, each only where the flags have its level.
#include <cstdint>

#include "base/CpuFlags.h"
#include "video/InverseDct.h"

#if defined(__SSE2__)
namespace zentrova {

// The plain variant with AVX2, eight lanes of 32 bits.
void InverseDctAvx2(const int16_t* coefficients, int16_t* samples);
void InverseDctAvx2Columns(const int16_t* columns, int16_t* samples);

// The vector variant with SSE2, eight 16-bit lanes, and with AVX2 two blocks at once.
void InverseDctVectorSse2(const int16_t* coefficients, int16_t* samples);
void InverseDctVectorSse2Columns(const int16_t* columns, int16_t* samples);
void InverseDctVectorAvx2ColumnPair(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                                    int16_t* secondSamples);

inline void InitPlainInverseDctX86(InverseDctDsp& dsp, uint32_t flags) {
  if (!(flags & kCpuFlagSse2)) return;
  if (!(flags & kCpuFlagSsse3)) return;
  if (!(flags & kCpuFlagAvx2)) return;
  dsp.scan = InverseDctAvx2;
  dsp.columns = InverseDctAvx2Columns;
  // One block already fills the AVX2 registers.
  dsp.columnPair = TransformEach<InverseDctAvx2Columns>;
}

inline void InitVectorInverseDctX86(InverseDctDsp& dsp, uint32_t flags) {
  if (!(flags & kCpuFlagSse2)) return;
  dsp.scan = InverseDctVectorSse2;
  dsp.columns = InverseDctVectorSse2Columns;
  dsp.columnPair = TransformEach<InverseDctVectorSse2Columns>;
  if (!(flags & kCpuFlagSsse3)) return;
  if (!(flags & kCpuFlagAvx2)) return;
  dsp.columnPair = InverseDctVectorAvx2ColumnPair;
}

}  // namespace zentrova
#endif  // __SSE2__
