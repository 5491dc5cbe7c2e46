#pragma once
// The block writes built with x86 vector instructions, and the rung of the init ladder that
// installs them over the portable ones.
#include <cstddef>
#include <cstdint>

#include "base/CpuFlags.h"
#include "video/BlockReconstruction.h"

#if defined(__SSE2__)
namespace zentrova {

void StoreBlockSse2(const int16_t* samples, uint8_t* dst, size_t stride);
void AddBlockSse2(const int16_t* residual, uint8_t* dst, size_t stride);

inline void InitBlockReconstructionX86(BlockReconstructionDsp& dsp, uint32_t flags) {
  if (!(flags & kCpuFlagSse2)) return;
  dsp.store = StoreBlockSse2;
  dsp.add = AddBlockSse2;
}

}  // namespace zentrova
#endif  // __SSE2__
