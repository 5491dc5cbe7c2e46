#pragma once
// Writes one transformed 8x8 block straight into a plane: the fused form of placing it in the
// macroblock buffer, clamping and storing (and, for inter blocks, loading the prediction and
// adding the residual), block by block. It gives the same bytes as those steps on the whole
// macroblock, because every step works on each sample alone.
#include <cstddef>
#include <cstdint>

namespace zentrova {

// dst[r * stride + c] = samples[8 r + c] clamped to 0..255.
void StoreBlock(const int16_t* samples, uint8_t* dst, size_t stride);

// Every sample of the 8x8 area becomes `value` clamped to 0..255.
void StoreFlatBlock(int16_t value, uint8_t* dst, size_t stride);

// dst = clamp(dst + residual), the sum wrapping in 16 bits (bit-exact, as the reconstruction
// before clamping is defined).
void AddBlock(const int16_t* residual, uint8_t* dst, size_t stride);

}  // namespace zentrova
