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
  static constexpr uint32_t kLongOffset = 0;                    // e / 32 - 16
  static constexpr uint32_t kMiddleOffset = 128 - 16;           // e / 4 - 32
  static constexpr uint32_t kShortOffset = kMiddleOffset + 96;  // e
  static constexpr uint32_t kEntries = kShortOffset + 128;
  TcoefEntry entries[kEntries];
};
extern const TcoefLookup kTcoefLookup;

// The three tables spread out over every 12-bit look-ahead: entry e is LookupTcoef(e), its
// length counting the sign bit that follows an event (ESCAPE keeps its 7 bits). Built from them
// at compile time, it saves the choice of table on the path from one code to the next, which
// halves the time a block's codes take.
struct TcoefDirect {
  TcoefEntry entries[4096];
};
extern const TcoefDirect kTcoefDirect;

// The entry for the 12 bits e that start a code; length 0 when none does. The shift (0, 2 or
// 5) and the table's start are formed from the two comparisons arithmetically, so that the
// compiler has no branch to mispredict.
constexpr const TcoefEntry& LookupTcoef(uint32_t e) {
  const uint32_t middleOrLong = e >= 128;
  const uint32_t longCode = e >= 512;
  const uint32_t shift = 2 * middleOrLong + 3 * longCode;
  // Unsigned wrap undoes the -32 and -16 of the first indices once e >> shift is added.
  constexpr uint32_t kShortStart = TcoefLookup::kShortOffset;
  constexpr uint32_t kMiddleStart = TcoefLookup::kMiddleOffset - 32;
  constexpr uint32_t kLongStart = TcoefLookup::kLongOffset - 16;
  const uint32_t start =
      kShortStart - middleOrLong * (kShortStart - kMiddleStart) - longCode * (kMiddleStart - kLongStart);
  return kTcoefLookup.entries[(e >> shift) + start];
}

}  // namespace zentrova
