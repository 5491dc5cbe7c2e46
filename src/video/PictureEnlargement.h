#pragma once
// Enlarges the reduced pictures of the newer codec generation to their recording size.
#include <cstdint>

namespace zentrova {

// Reads the source planes at width x height, writes the destination planes and replaces width
// and height with the enlarged size. Sizes without an enlargement are copied unchanged. The row
// kernels are those chosen for the process (video/VideoDsp.h).
void EnlargePicture(uint8_t* dstY, uint8_t* dstCb, uint8_t* dstCr, const uint8_t* srcY, const uint8_t* srcCb,
                    const uint8_t* srcCr, int32_t& width, int32_t& height, int mode);
// The same with the portable row kernels only: the reference for the SIMD ones.
void EnlargePictureScalar(uint8_t* dstY, uint8_t* dstCb, uint8_t* dstCr, const uint8_t* srcY,
                          const uint8_t* srcCb, const uint8_t* srcCr, int32_t& width, int32_t& height, int mode);

}  // namespace zentrova
