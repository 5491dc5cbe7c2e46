#pragma once
// Shows a picture of another size than the recording at the recording's size, by nearest
// neighbour: pixel (x, y) of the result takes the source's pixel (x * w / W, y * h / H), integer
// division, for a w x h source and a W x H result. No pixel is blended with another.
#include <cstddef>
#include <cstdint>

namespace zentrova {

// One plane of 8-bit samples; rows of the source are srcWidth apart, of the result dstStride.
void ScalePlane(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst, int32_t dstWidth,
                int32_t dstHeight, size_t dstStride);

// A 24-bit picture (3 bytes per pixel, rows 3 x srcWidth bytes apart); rows of the result are
// dstRowBytes apart, which lets the caller leave room for doubled lines.
void ScalePicture(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst, int32_t dstWidth,
                  int32_t dstHeight, size_t dstRowBytes);

}  // namespace zentrova
