#include "audio/G726Dsp.h"

#include "audio/x86/G726Decoder.h"
#include "base/CpuFlags.h"

namespace zentrova {

namespace g726 {

void DecodeRun(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state) {
  for (int32_t i = 0; i < count; ++i) samples[i] = DecodeSample(codes[i], state);
}

}  // namespace g726

void InitG726Dsp(G726Dsp& dsp, uint32_t cpuFlags) {
  dsp.decode = g726::DecodeRun;
#if defined(__SSE2__)
  InitG726DspX86(dsp, cpuFlags);
#else
  static_cast<void>(cpuFlags);
#endif
}

const G726Dsp& G726Kernels() {
  static const G726Dsp kernels = [] {
    G726Dsp dsp;
    InitG726Dsp(dsp, CpuFlags());
    return dsp;
  }();
  return kernels;
}

}  // namespace zentrova
