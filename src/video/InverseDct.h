#pragma once
// The 8x8 inverse DCT in its two fixed-point forms. Both take 64 dequantised coefficients in
// transmission (zigzag) order and write 64 samples in natural row-major order; neither clamps.
// The ...Columns entry points compute the same samples from coefficients already placed in
// natural order column by column (video/ColumnOrder.h), the layout the decoder writes.
#include <cstdint>

#include "video/Zigzag.h"

namespace zentrova {

// Both variants' kernels, chosen once for the process (video/VideoDsp.h). Every entry gives the
// samples of its variant's reference below, bit for bit.
using BlockTransform = void (*)(const int16_t* coefficients, int16_t* samples);
using BlockPairTransform = void (*)(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                                    int16_t* secondSamples);
struct InverseDctDsp {
  BlockTransform scan;      // coefficients in transmission order
  BlockTransform columns;   // coefficients in the column-by-column layout
  // Two blocks in the column-by-column layout, one after the other, for callers that hand the
  // transforms blocks in pairs (AVX2 carries one block in each half of its registers).
  BlockPairTransform columnPair;
};
// A pair entry made of a one-block entry, for the levels with no kernel that takes two at once.
template <BlockTransform transform>
void TransformEach(const int16_t* first, const int16_t* second, int16_t* firstSamples, int16_t* secondSamples) {
  transform(first, firstSamples);
  transform(second, secondSamples);
}

// The portable kernels, then those of every level in `cpuFlags` (base/CpuFlags.h).
void InitPlainInverseDctDsp(InverseDctDsp& dsp, uint32_t cpuFlags);
void InitVectorInverseDctDsp(InverseDctDsp& dsp, uint32_t cpuFlags);

// 32-bit plain variant: every sum and store keeps its low bits, no saturation.
void InverseDct(const int16_t* coefficients, int16_t* samples);
// The plain variant's flow graph one value at a time: the reference.
void InverseDctPortable(const int16_t* coefficients, int16_t* samples);
// The same samples from coefficients in the column-by-column layout.
void InverseDctColumns(const int16_t* columns, int16_t* samples);
void InverseDctPortableColumns(const int16_t* columns, int16_t* samples);
void InverseDctPairColumns(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                           int16_t* secondSamples);
// Its one-dimensional step, in place on values[0], values[stride], ... values[7 * stride].
void InverseDct1D(int16_t* values, int stride);

// 16-bit saturating-lane variant.
void InverseDctVector(const int16_t* coefficients, int16_t* samples);
// Portable emulation of the lane arithmetic: the reference for the SIMD code.
void InverseDctVectorScalar(const int16_t* coefficients, int16_t* samples);
// The same samples from coefficients in the column-by-column layout.
void InverseDctVectorColumns(const int16_t* columns, int16_t* samples);
void InverseDctVectorPairColumns(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                                 int16_t* secondSamples);

// For a block of DC alone (every coefficient after index 0 zero, in either layout) writes the
// flat block the plain variant makes of it and returns true; else writes nothing. The plain
// kernels of every level take this short way first.
bool FillPlainDcAlone(const int16_t* coefficients, int16_t* samples);

// Whether the processor check selects the vector variant.
bool DetectVectorUnit();

// What the processor check reads from the identification instruction.
struct ProcessorIdentity {
  bool hasCpuid = false;
  char vendor[13] = {};              // leaf 0, EBX EDX ECX, NUL-terminated
  uint32_t maxStandardLeaf = 0;      // leaf 0, EAX
  uint32_t standardFeatures = 0;     // leaf 1, EDX
  uint32_t maxExtendedLeaf = 0;      // leaf 0x80000000, EAX
  uint32_t extendedFeatures = 0;     // leaf 0x80000001, EDX
};
// The decision of DetectVectorUnit on a given identity: true for the vector variant.
bool ChooseVectorUnit(const ProcessorIdentity& identity);
// Reads the running processor's identity (all zero where there is no identification instruction).
ProcessorIdentity ReadProcessorIdentity();

}  // namespace zentrova
