#pragma once
// The constant tables of ITU-T G.726 at 24 kbit/s, indexed by the 3-bit code (bit 2 is the sign).
#include <array>
#include <cstdint>

namespace zentrova::g726 {

// Inverse quantiser output DQLN: normalised log2 of the difference magnitude, 24 kbit/s table.
inline constexpr std::array<int16_t, 8> kDqln = {-2048, 135, 273, 373, 373, 273, 135, -2048};

// Scale-factor multiplier WI (log domain, scaled by 2^5 against Y), 24 kbit/s table.
inline constexpr std::array<int16_t, 8> kWi = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};

// Rate-change weight FI, averaged short and long term to tell stationary signals, 24 kbit/s table.
inline constexpr std::array<int16_t, 8> kFi = {0, 512, 1024, 3584, 3584, 1024, 512, 0};

// Quantiser decision levels on the normalised log of |d| (DLN), 24 kbit/s table: below 8 the
// magnitude index is 0, from 8 it is 1, from 218 it is 2, from 331 it is 3.
inline constexpr std::array<int16_t, 3> kDecisionLevels = {8, 218, 331};

}  // namespace zentrova::g726
