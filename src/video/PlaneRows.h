#pragma once
// Row work on 8-bit planes for the pictures the conversion hands on: the averaged rows of line
// doubling, and the move of a full-range plane into the studio range most video codecs assume.
#include <cstddef>
#include <cstdint>

namespace zentrova {

// out[i] = floor((a[i] + b[i]) / 2) for n bytes.
void AverageRows(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n);
void AverageRowsReference(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n);

// How a plane's samples are written. The decoder's planes are full range (0..255, chroma centred
// on 127.5); Studio maps luma v to (219 v + 4207) / 255 and chroma to (224 v + 4207) / 255, the
// rounded 16 + v x 219/255 and 16 + v x 224/255, so 0..255 becomes 16..235 (luma) and 16..240
// with 127.5 at 128 (chroma). FullChroma keeps full-range chroma but moves its centre from 127.5
// to the 128 that JPEG decoders assume, half a step that a byte cannot hold: on a checkerboard
// over the rows written, every other sample goes up by one (255 stays), so the mean rises by a
// half and no sample is off by more than one.
enum class SampleRange : uint8_t { Full, StudioLuma, StudioChroma, FullChroma };

// The mapped sample at column x of output row `row` (counted from the first row written).
uint8_t MapSample(uint8_t v, SampleRange range, int32_t x = 0, int32_t row = 0);

// How a plane is line-doubled: not at all, or into 2 x rows rows where row 2r is source row r and
// row 2r + 1 is made from source rows r and b = r + 1 (the last source row stands in for b
// below the last row):
// - Average: floor((r + b) / 2), the line doubling of the pictures themselves (luma);
// - ChromaOfAverage: (3 r + b + 2) / 4, the chroma of a 4:2:0 picture that is line-doubled by
//   the Average rule: its rows 4i and 4i + 1 have chroma row i, row 4i + 2 too, and row 4i + 3
//   the average of chroma rows i and i + 1; chroma row 2i + 1 covers the last two.
enum class RowDoubling : uint8_t { None, Average, ChromaOfAverage };

// Writes the rows of `width` samples from src to dst (strides in bytes, either may be negative),
// doubled as asked and then mapped to `range`.
void CopyPlaneRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int32_t width,
                   int32_t rows, RowDoubling doubling, SampleRange range);
// The same, sample by sample as the rule reads: the reference for the fast version.
void CopyPlaneRowsReference(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                            int32_t width, int32_t rows, RowDoubling doubling, SampleRange range);

// The row kernels, chosen once for the process (video/VideoDsp.h); each gives the reference's
// bytes.
struct PlaneRowsDsp {
  void (*averageRows)(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n);
  // One output row, number `row` of those written: src, or (with `below`) the row made from src
  // and below, mapped to `range`.
  void (*writeRow)(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
                   SampleRange range, int32_t row);
};
// The portable kernels, then those of every level in `cpuFlags` (base/CpuFlags.h).
void InitPlaneRowsDsp(PlaneRowsDsp& dsp, uint32_t cpuFlags);

// The portable writeRow from column `from` on: how the SIMD kernels finish their rows.
void WritePlaneRowFrom(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
                       SampleRange range, int32_t row, int32_t from);

// The studio mapping's weight and bias: (weight v + bias) / 255.
int32_t StudioWeight(SampleRange range);
inline constexpr int32_t kStudioBias = 16 * 255 + 127;

}  // namespace zentrova
