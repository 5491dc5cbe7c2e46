#pragma once
// 4:2:0 planes to 24-bit pictures (blue, green, red; plane row 0 first; rows 3 x width bytes).
#include <cstdint>

namespace zentrova {

// Width and height are even; the picture holds at least 3 x width x height bytes.
void ConvertToRgb24(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                    int32_t height);

// The same conversion written pixel by pixel as the rule reads; the reference for the fast one.
void ConvertToRgb24Reference(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                             int32_t width, int32_t height);

}  // namespace zentrova
