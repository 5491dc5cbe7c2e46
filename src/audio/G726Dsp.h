#pragma once
// The kernels of the sound decoder, one table filled once for the process: the portable
// reference first, then the x86 kernel the processor has and the mask allows (base/CpuFlags.h).
// Every kernel gives the same samples and leaves the same state as the reference, bit for bit.
#include <cstdint>

#include "audio/G726State.h"

namespace zentrova {

// Decodes `count` codes, one to a byte in its low three bits (the higher bits are ignored), into
// as many samples; the state runs on from the first code to the last.
using G726DecodeRun = void (*)(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state);

struct G726Dsp {
  G726DecodeRun decode;
};

// The table for `cpuFlags`; the equivalence test and the benchmark walk the levels with it.
void InitG726Dsp(G726Dsp& dsp, uint32_t cpuFlags);

// The table for CpuFlags(), filled at the first call.
const G726Dsp& G726Kernels();

namespace g726 {

// The portable kernel: DecodeSample, code after code.
void DecodeRun(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state);

}  // namespace g726
}  // namespace zentrova
