#pragma once
// The orthonormal 8x8 forward DCT, in double precision: the exact inverse of the decoder's
// transform up to its fixed-point rounding. A flat block of value v gives coefficient 0 = 8v.
#include <array>
#include <cstdint>

namespace zentrova::zrgen {

// samples in natural row-major order -> coefficients in natural row-major order.
std::array<double, 64> ForwardDct(const std::array<int, 64>& samples);

}  // namespace zentrova::zrgen
