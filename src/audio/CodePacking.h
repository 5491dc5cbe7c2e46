#pragma once
// Eight 3-bit codes travel in a group of three bytes b0 b1 b2, least significant bit first: with
// W = b0 + 256 b1 + 65536 b2, the k-th code in time is bits 3k..3k+2 of W. A code may straddle a
// byte boundary (the third code takes the top two bits of b0 and the lowest bit of b1).
#include <array>
#include <cstdint>

namespace zentrova::g726 {

inline constexpr int kCodesPerGroup = 8;
inline constexpr int kBytesPerGroup = 3;

inline std::array<uint8_t, kCodesPerGroup> UnpackCodes(const uint8_t* group) {
  const uint32_t word = uint32_t{group[0]} | uint32_t{group[1]} << 8 | uint32_t{group[2]} << 16;
  std::array<uint8_t, kCodesPerGroup> codes{};
  for (int k = 0; k < kCodesPerGroup; ++k) codes[k] = static_cast<uint8_t>((word >> (3 * k)) & 7u);
  return codes;
}

inline void PackCodes(const std::array<uint8_t, kCodesPerGroup>& codes, uint8_t* group) {
  uint32_t word = 0;
  for (int k = 0; k < kCodesPerGroup; ++k) word |= uint32_t{codes[k] & 7u} << (3 * k);
  group[0] = static_cast<uint8_t>(word);
  group[1] = static_cast<uint8_t>(word >> 8);
  group[2] = static_cast<uint8_t>(word >> 16);
}

}  // namespace zentrova::g726
