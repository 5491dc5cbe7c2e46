#pragma once
// 4:2:0 planes to 24-bit pictures (blue, green, red; plane row 0 first; rows 3 x width bytes).
#include <cstdint>

namespace zentrova {

// Width and height are even; the picture holds at least 3 x width x height bytes. Uses the best
// of AVX2, SSSE3 and SSE2 the processor offers (chosen once), else the portable fast version.
void ConvertToRgb24(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                    int32_t height);

// Converts into a frame of 2 x height rows (frame holds 6 x width x height bytes), line-doubled:
// frame row 2i is picture row i, row 2i + 1 the byte-wise rounded-down average of picture rows i
// and i + 1, the last row a copy of the last picture row. One pass, no intermediate picture.
void ConvertToRgb24Doubled(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                           int32_t height);
// The portable fast version of it.
void ConvertToRgb24DoubledScalar(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                 int32_t width, int32_t height);

// The same conversion written pixel by pixel as the rule reads; the reference for the fast ones.
void ConvertToRgb24Reference(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                             int32_t width, int32_t height);
// Portable fast version: table look-ups once per 2x2 square, clamping by look-up.
void ConvertToRgb24Scalar(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                          int32_t width, int32_t height);
#if defined(__SSE2__)
// Sixteen pixels of two rows at a time; bit for bit the reference's result.
void ConvertToRgb24Sse2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height);
// The same with SSSE3 byte shuffles; only where ProcessorHasSsse3 (video/ProcessorFeatures.h).
void ConvertToRgb24Ssse3(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                         int32_t height);
// Thirty-two pixels of two rows at a time with AVX2; only where ProcessorHasAvx2.
void ConvertToRgb24Avx2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height);
void ConvertToRgb24DoubledSse2(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                               int32_t width, int32_t height);
void ConvertToRgb24DoubledSsse3(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                int32_t width, int32_t height);
void ConvertToRgb24DoubledAvx2(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                               int32_t width, int32_t height);
#endif

}  // namespace zentrova
