#include "video/PictureScaling.h"

#include <cstring>

namespace zentrova {
namespace {

// The source column or row of result index i: i * from / to, in 64 bits as the product of two
// picture sizes is formed first.
int32_t SourceIndex(int32_t i, int32_t from, int32_t to) {
  return static_cast<int32_t>(static_cast<int64_t>(i) * from / to);
}

}  // namespace

void ScalePlane(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst, int32_t dstWidth,
                int32_t dstHeight, size_t dstStride) {
  if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return;
  for (int32_t y = 0; y < dstHeight; ++y) {
    const uint8_t* row = src + static_cast<size_t>(SourceIndex(y, srcHeight, dstHeight)) * srcWidth;
    uint8_t* out = dst + static_cast<size_t>(y) * dstStride;
    for (int32_t x = 0; x < dstWidth; ++x) out[x] = row[SourceIndex(x, srcWidth, dstWidth)];
  }
}

void ScalePicture(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst, int32_t dstWidth,
                  int32_t dstHeight, size_t dstRowBytes) {
  if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return;
  const size_t srcRowBytes = static_cast<size_t>(srcWidth) * 3;
  for (int32_t y = 0; y < dstHeight; ++y) {
    const uint8_t* row = src + static_cast<size_t>(SourceIndex(y, srcHeight, dstHeight)) * srcRowBytes;
    uint8_t* out = dst + static_cast<size_t>(y) * dstRowBytes;
    for (int32_t x = 0; x < dstWidth; ++x) std::memcpy(out + 3 * x, row + 3 * SourceIndex(x, srcWidth, dstWidth), 3);
  }
}

}  // namespace zentrova
