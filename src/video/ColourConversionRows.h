#pragma once
// Row-level pieces shared by the colour conversion's implementations.
#include <cstdint>

namespace zentrova {

// Two picture rows that share one chroma row: chromaWidth chroma samples, 2 x chromaWidth pixels
// per row, by table look-up. The SIMD version finishes its rows with it.
void ConvertRowPair(uint8_t* out0, uint8_t* out1, const uint8_t* y0, const uint8_t* y1, const uint8_t* cb,
                    const uint8_t* cr, int32_t chromaWidth);

}  // namespace zentrova
