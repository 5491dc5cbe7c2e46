#pragma once
// Row-level pieces shared by the colour conversion's implementations.
#include <cstdint>

namespace zentrova {

// Two picture rows that share one chroma row: chromaWidth chroma samples, 2 x chromaWidth pixels
// per row, by table look-up. The SIMD version finishes its rows with it.
void ConvertRowPair(uint8_t* out0, uint8_t* out1, const uint8_t* y0, const uint8_t* y1, const uint8_t* cb,
                    const uint8_t* cr, int32_t chromaWidth);

using RowPairConverter = void (*)(uint8_t* out0, uint8_t* out1, const uint8_t* y0, const uint8_t* y1,
                                  const uint8_t* cb, const uint8_t* cr, int32_t chromaWidth);

// A whole picture, row pair by row pair, with the given row-pair converter; sizes that are not
// even (outside the decoder's pictures) go to the per-pixel reference, as the rule reads.
void ConvertByRowPairs(RowPairConverter convertRows, uint8_t* picture, const uint8_t* y, const uint8_t* cb,
                       const uint8_t* cr, int32_t width, int32_t height);

// The same into a frame of 2 x height rows, line-doubled on the way: each row pair goes to frame
// rows 4i and 4i + 2, and the averaged rows between are made while their neighbours are in cache.
void ConvertByRowPairsDoubled(RowPairConverter convertRows, uint8_t* frame, const uint8_t* y, const uint8_t* cb,
                              const uint8_t* cr, int32_t width, int32_t height);

}  // namespace zentrova
