#pragma once
// The 8x8 inverse DCT in its two fixed-point forms. Both take 64 dequantised coefficients in
// transmission (zigzag) order and write 64 samples in natural row-major order; neither clamps.
#include <cstdint>

namespace zentrova {

// Entry p (natural position 8 * row + column) holds the transmission index of the coefficient
// that belongs at p: the zigzag scan of ITU-T T.81, stored in the inverse direction.
extern const int32_t ZigzagTable[64];

// 32-bit plain variant: every sum and store keeps its low bits, no saturation.
void InverseDct(const int16_t* coefficients, int16_t* samples);

// 16-bit saturating-lane variant. Uses SSE2 where the build has it, else the scalar emulation.
void InverseDctVector(const int16_t* coefficients, int16_t* samples);
// Portable emulation of the lane arithmetic; always built, the reference for the SIMD code.
void InverseDctVectorScalar(const int16_t* coefficients, int16_t* samples);
#if defined(__SSE2__)
void InverseDctVectorSse2(const int16_t* coefficients, int16_t* samples);
#endif

// 1 when the processor check selects the vector variant, else 0.
int DetectVectorUnit();

}  // namespace zentrova
