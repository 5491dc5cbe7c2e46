#pragma once
// The sound decoder's kernel built with x86 vector instructions, and the rung of the init ladder
// that installs it over the portable one.
#include <cstdint>

#include "audio/G726Dsp.h"
#include "base/CpuFlags.h"

#if defined(__SSE2__)
namespace zentrova {

// The eight FMULTs of a sample (six zeros, two poles) side by side, in 16-bit lanes with SSE2 and
// in 32-bit lanes with AVX2, and the six zeros' adaptation with them; the rest of the step in
// scalar code without data-dependent branches.
void G726DecodeRunSse2(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state);
void G726DecodeRunAvx2(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state);

inline void InitG726DspX86(G726Dsp& dsp, uint32_t flags) {
  if (!(flags & kCpuFlagSse2)) return;
  dsp.decode = G726DecodeRunSse2;
  if (!(flags & kCpuFlagSsse3)) return;
  if (!(flags & kCpuFlagAvx2)) return;
  dsp.decode = G726DecodeRunAvx2;
}

}  // namespace zentrova
#endif  // __SSE2__
