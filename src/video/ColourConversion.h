#pragma once
// 4:2:0 planes to 24-bit pictures (blue, green, red; plane row 0 first; rows 3 x width bytes).
#include <cstdint>

namespace zentrova {

using PictureConversion = void (*)(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                   int32_t width, int32_t height);

// The conversion's kernels, chosen once for the process (video/VideoDsp.h); each gives the
// reference's bytes.
struct ColourConversionDsp {
  PictureConversion picture;  // as ConvertToRgb24
  PictureConversion streamed;  // as ConvertToRgb24Streamed
  PictureConversion doubled;  // as ConvertToRgb24Doubled
};
// The portable kernels, then those of every level in `cpuFlags` (base/CpuFlags.h).
void InitColourConversionDsp(ColourConversionDsp& dsp, uint32_t cpuFlags);

// Width and height are even; the picture holds at least 3 x width x height bytes.
void ConvertToRgb24(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                    int32_t height);

// The same for a picture that is read much later, if at all: where the processor can, its
// stores pass the cache by, so that it does not push out what the caller works on (and costs no
// read of the memory it overwrites). Give it a picture that begins on 32 bytes.
void ConvertToRgb24Streamed(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                            int32_t height);

// Converts into a frame of 2 x height rows (frame holds 6 x width x height bytes), line-doubled:
// frame row 2i is picture row i, row 2i + 1 the byte-wise rounded-down average of picture rows i
// and i + 1, the last row a copy of the last picture row. One pass, no intermediate picture.
void ConvertToRgb24Doubled(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                           int32_t height);

// The same conversion written pixel by pixel as the rule reads; the reference for the fast ones.
void ConvertToRgb24Reference(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                             int32_t width, int32_t height);

}  // namespace zentrova
