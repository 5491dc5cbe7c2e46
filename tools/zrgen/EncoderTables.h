#pragma once
// The variable-length codes the encoder writes: TCOEF (ITU-T H.263 Table 16) with its ESCAPE,
// the CBPY code and the zigzag scan.
#include <array>
#include <cstdint>
#include <optional>

namespace zentrova::zrgen {

struct VlcCode {
  uint32_t bits;  // the code, right-aligned, most significant bit sent first
  int length;
};

struct TcoefEntry {
  int last;
  int run;
  int level;  // magnitude; a sign bit follows the code
  uint32_t bits;
  int length;
};

// The 102 (last, run, level) events of H.263 Table 16, in the standard's order.
extern const std::array<TcoefEntry, 102> kTcoefTable;

// ESCAPE: followed by last (1 bit), run (6 bits) and level (8 bits, two's complement), no sign.
inline constexpr VlcCode kTcoefEscape{0b0000011, 7};

// The code of an event, or nothing when the event has no code of its own and needs ESCAPE.
std::optional<VlcCode> TcoefCodeFor(int last, int run, int levelMagnitude);

// CBPY code of value 0..15 (bit 3 belongs to block 0); the value is the coded pattern of an inter
// macroblock and 15 minus the coded pattern of an intra macroblock.
VlcCode CbpyCode(int cbpy);

// Transmission index k -> natural position (8 * row + column): the zigzag scan of H.263 / JPEG.
extern const std::array<int, 64> kScanOrder;

}  // namespace zentrova::zrgen
