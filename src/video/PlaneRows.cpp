// Line doubling and range mapping of planes, sample by sample; the SIMD row kernels are in
// video/x86/.
#include "video/PlaneRows.h"

#include <algorithm>
#include <cstring>

#include "video/VideoDsp.h"
#include "video/x86/PlaneRows.h"

namespace zentrova {
namespace {

inline uint8_t Between(uint8_t s, uint8_t b, RowDoubling doubling) {
  if (doubling == RowDoubling::ChromaOfAverage) return static_cast<uint8_t>((3 * s + b + 2) >> 2);
  return static_cast<uint8_t>((s + b) >> 1);
}

void WriteRowC(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
               SampleRange range, int32_t row) {
  WritePlaneRowFrom(out, src, below, width, doubling, range, row, 0);
}

}  // namespace

int32_t StudioWeight(SampleRange range) { return range == SampleRange::StudioLuma ? 219 : 224; }

uint8_t MapSample(uint8_t v, SampleRange range, int32_t x, int32_t row) {
  if (range == SampleRange::Full) return v;
  if (range == SampleRange::FullChroma) return static_cast<uint8_t>(std::min(255, v + ((x + row) & 1)));
  return static_cast<uint8_t>((StudioWeight(range) * v + kStudioBias) / 255);
}

void WritePlaneRowFrom(uint8_t* out, const uint8_t* src, const uint8_t* below, int32_t width, RowDoubling doubling,
                       SampleRange range, int32_t row, int32_t from) {
  for (int32_t x = from; x < width; ++x) {
    const uint8_t v = below ? Between(src[x], below[x], doubling) : src[x];
    out[x] = MapSample(v, range, x, row);
  }
}

void AverageRowsReference(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((a[i] + b[i]) >> 1);
}

void InitPlaneRowsDsp(PlaneRowsDsp& dsp, uint32_t cpuFlags) {
  dsp = {AverageRowsReference, WriteRowC};
#if defined(__SSE2__)
  InitPlaneRowsX86(dsp, cpuFlags);
#else
  (void)cpuFlags;
#endif
}

void AverageRows(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
  VideoKernels().planeRows.averageRows(out, a, b, n);
}

void CopyPlaneRowsReference(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                            int32_t width, int32_t rows, RowDoubling doubling, SampleRange range) {
  const bool doubled = doubling != RowDoubling::None;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    const uint8_t* b = r + 1 < rows ? s + srcStride : s;
    for (int32_t k = 0; k < (doubled ? 2 : 1); ++k) {
      uint8_t* out = dst + (doubled ? 2 * r + k : r) * dstStride;
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t v = k == 0 ? s[x] : Between(s[x], b[x], doubling);
        out[x] = MapSample(v, range, x, doubled ? 2 * r + k : r);
      }
    }
  }
}

void CopyPlaneRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int32_t width,
                   int32_t rows, RowDoubling doubling, SampleRange range) {
  if (width <= 0 || rows <= 0) return;
  const auto writeRow = VideoKernels().planeRows.writeRow;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcStride;
    if (doubling == RowDoubling::None) {
      writeRow(dst + r * dstStride, s, nullptr, width, doubling, range, r);
      continue;
    }
    uint8_t* even = dst + 2 * r * dstStride;
    writeRow(even, s, nullptr, width, doubling, range, 2 * r);
    // The last row has no row below it: copied.
    writeRow(even + dstStride, s, r + 1 < rows ? s + srcStride : nullptr, width, doubling, range, 2 * r + 1);
  }
}

}  // namespace zentrova
