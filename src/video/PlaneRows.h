#pragma once
// Row work on 8-bit planes for the pictures the conversion hands on: the averaged rows of line
// doubling, and the move of a full-range plane into the studio range most video codecs assume.
#include <cstddef>
#include <cstdint>

namespace zentrova {

// out[i] = floor((a[i] + b[i]) / 2) for n bytes. SSE2 where built.
void AverageRows(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n);
void AverageRowsReference(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n);

// How a plane's samples are written. The decoder's planes are full range (0..255, chroma centred
// on 127.5); Studio maps luma v to (219 v + 4207) / 255 and chroma to (224 v + 4207) / 255, the
// rounded 16 + v x 219/255 and 16 + v x 224/255, so 0..255 becomes 16..235 (luma) and 16..240
// with 127.5 at 128 (chroma).
enum class SampleRange : uint8_t { Full, StudioLuma, StudioChroma };

uint8_t MapSample(uint8_t v, SampleRange range);

// Writes `rows` rows of `width` samples from src to dst (strides in bytes, either may be
// negative), mapped to `range`. With `doubled` it writes 2 x rows rows: row 2r is source row r,
// row 2r + 1 the rounded-down average of source rows r and r + 1, the last row a copy of the last
// source row; the averages are taken before the range map.
void CopyPlaneRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int32_t width,
                   int32_t rows, bool doubled, SampleRange range);
// The same, sample by sample as the rule reads: the reference for the fast version.
void CopyPlaneRowsReference(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                            int32_t width, int32_t rows, bool doubled, SampleRange range);

}  // namespace zentrova
