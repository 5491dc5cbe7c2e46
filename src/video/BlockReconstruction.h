#pragma once
// Writes one transformed 8x8 block straight into a plane: the fused form of placing it in the
// macroblock buffer, clamping and storing (and, for inter blocks, loading the prediction and
// adding the residual), block by block. It gives the same bytes as those steps on the whole
// macroblock, because every step works on each sample alone.
#include <cstddef>
#include <cstdint>

namespace zentrova {

// One block of 64 values in natural order written into the 8x8 area at dst.
using BlockWrite = void (*)(const int16_t* values, uint8_t* dst, size_t stride);

// The block writes, chosen once for the process (video/VideoDsp.h); each gives the reference's
// bytes.
struct BlockReconstructionDsp {
  BlockWrite store;  // an intra block: the samples themselves
  BlockWrite add;    // an inter block: a residual on the prediction already in the plane
};
// The portable kernels, then those of every level in `cpuFlags` (base/CpuFlags.h).
void InitBlockReconstructionDsp(BlockReconstructionDsp& dsp, uint32_t cpuFlags);

// dst[r * stride + c] = samples[8 r + c] clamped to 0..255.
void StoreBlockReference(const int16_t* samples, uint8_t* dst, size_t stride);

// dst = clamp(dst + residual), the sum wrapping in 16 bits (bit-exact, as the reconstruction
// before clamping is defined).
void AddBlockReference(const int16_t* residual, uint8_t* dst, size_t stride);

// Every sample of the 8x8 area becomes `value` clamped to 0..255.
void StoreFlatBlock(int16_t value, uint8_t* dst, size_t stride);

}  // namespace zentrova
