#pragma once
// The TCOEF run/level code of ITU-T H.263 (Table 16 of the standard) and its lookup from a
// 12-bit look-ahead.
#include <cstdint>

namespace zentrova {

// One (last, run, level) event of the code; `code` spells the bits before the sign bit.
struct TcoefEvent {
  uint8_t last;
  uint8_t run;
  uint8_t level;
  const char* code;
};

// The 102 events of the code, last = 0 first; the ESCAPE code comes apart.
extern const TcoefEvent kTcoefEvents[102];
inline constexpr const char* kTcoefEscapeCode = "0000011";

// What a look-ahead decodes to: level 0 marks ESCAPE, length 0 an invalid code.
struct TcoefEntry {
  uint8_t last;
  uint8_t run;
  uint8_t level;
  uint8_t length;
};

// Three tables keep the lookup small: codes not starting with 000 are told apart by e / 32 of
// the 12-bit look-ahead e (indices 16..127), those starting with 0001 or 0000 1 by e / 4
// (32..127), the rest by e itself (0..127, where 0..7, nine leading zeros, hold no code). The
// tables lie one after the other in one array, so the lookup chooses a shift and an offset
// rather than a table, without branches.
struct TcoefLookup {
  static constexpr uint32_t kLongOffset = 0;                   // e / 32 - 16
  static constexpr uint32_t kMiddleOffset = 128 - 16;          // e / 4 - 32
  static constexpr uint32_t kShortOffset = kMiddleOffset + 96;  // e
  static constexpr uint32_t kEntries = kShortOffset + 128;
  TcoefEntry entries[kEntries];
};
extern const TcoefLookup kTcoefLookup;

// The entry for the 12 bits e that start a code; length 0 when none does.
inline const TcoefEntry& LookupTcoef(uint32_t e) {
  const bool longCode = e >= 512;
  const bool middleCode = e >= 128;
  const uint32_t shift = longCode ? 5 : (middleCode ? 2 : 0);
  const uint32_t start = longCode ? TcoefLookup::kLongOffset - 16
                                  : (middleCode ? TcoefLookup::kMiddleOffset - 32 : TcoefLookup::kShortOffset);
  return kTcoefLookup.entries[(e >> shift) + start];  // unsigned wrap undoes the -16 and -32
}

}  // namespace zentrova
