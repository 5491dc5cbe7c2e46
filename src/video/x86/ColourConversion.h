#pragma once
// The colour conversion kernels built with x86 vector instructions, and the rung of the init
// ladder that installs them over the portable ones, each only where the flags have its level.
#include <cstdint>

#include "video/ColourConversion.h"
#include "base/CpuFlags.h"

#if defined(__SSE2__)
namespace zentrova {

// Sixteen pixels of two rows at a time with SSE2, the same with SSSE3 byte shuffles, thirty-two
// with AVX2.
void ConvertToRgb24Sse2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height);
void ConvertToRgb24Ssse3(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                         int32_t height);
void ConvertToRgb24Avx2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height);
// The AVX2 conversion with stores that pass the cache by, on rows that begin on 32 bytes.
void ConvertToRgb24StreamedAvx2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                int32_t width, int32_t height);
void ConvertToRgb24DoubledSse2(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                               int32_t width, int32_t height);
void ConvertToRgb24DoubledSsse3(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                int32_t width, int32_t height);
void ConvertToRgb24DoubledAvx2(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                               int32_t width, int32_t height);

inline void InitColourConversionX86(ColourConversionDsp& dsp, uint32_t flags) {
  if (!(flags & kCpuFlagSse2)) return;
  dsp.picture = ConvertToRgb24Sse2;
  dsp.streamed = ConvertToRgb24Sse2;
  dsp.doubled = ConvertToRgb24DoubledSse2;
  if (!(flags & kCpuFlagSsse3)) return;
  dsp.picture = ConvertToRgb24Ssse3;
  dsp.streamed = ConvertToRgb24Ssse3;
  dsp.doubled = ConvertToRgb24DoubledSsse3;
  if (!(flags & kCpuFlagAvx2)) return;
  dsp.picture = ConvertToRgb24Avx2;
  dsp.streamed = ConvertToRgb24StreamedAvx2;
  dsp.doubled = ConvertToRgb24DoubledAvx2;
}

}  // namespace zentrova
#endif  // __SSE2__
