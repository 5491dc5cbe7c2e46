// The block writes sample by sample; the SIMD kernels are in video/x86/.
#include "video/BlockReconstruction.h"

#include <cstring>

#include "video/x86/BlockReconstruction.h"

namespace zentrova {

namespace {

uint8_t Clamp(int16_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

void StoreBlockReference(const int16_t* samples, uint8_t* dst, size_t stride) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clamp(samples[8 * r + c]);
}

void AddBlockReference(const int16_t* residual, uint8_t* dst, size_t stride) {
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      uint8_t& d = dst[r * stride + c];
      const auto sum = static_cast<uint16_t>(d + static_cast<uint16_t>(residual[8 * r + c]));
      d = Clamp(static_cast<int16_t>(sum));
    }
}

void StoreFlatBlock(int16_t value, uint8_t* dst, size_t stride) {
  const uint8_t v = Clamp(value);
  for (int r = 0; r < 8; ++r) std::memset(dst + r * stride, v, 8);
}

void InitBlockReconstructionDsp(BlockReconstructionDsp& dsp, uint32_t cpuFlags) {
  dsp = {StoreBlockReference, AddBlockReference};
#if defined(__SSE2__)
  InitBlockReconstructionX86(dsp, cpuFlags);
#else
  (void)cpuFlags;
#endif
}

}  // namespace zentrova
