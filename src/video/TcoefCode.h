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
// the 12-bit look-ahead e (16..127), those starting with 0001 or 0000 1 by e / 4 (32..127), the
// rest by e itself (8..127). Each table starts at its first valid index.
struct TcoefLookup {
  static constexpr uint32_t kLongBase = 16;
  static constexpr uint32_t kMiddleBase = 32;
  static constexpr uint32_t kShortBase = 8;
  TcoefEntry longCodes[128 - kLongBase];
  TcoefEntry middleCodes[128 - kMiddleBase];
  TcoefEntry shortCodes[128 - kShortBase];
};
extern const TcoefLookup kTcoefLookup;

inline constexpr TcoefEntry kTcoefInvalid{0, 0, 0, 0};

// The entry for the 12 bits e that start a code. Below 8 (nine leading zeros) no code exists.
inline const TcoefEntry& LookupTcoef(uint32_t e) {
  if (e >= 512) return kTcoefLookup.longCodes[(e >> 5) - TcoefLookup::kLongBase];
  if (e >= 128) return kTcoefLookup.middleCodes[(e >> 2) - TcoefLookup::kMiddleBase];
  if (e >= TcoefLookup::kShortBase) return kTcoefLookup.shortCodes[e - TcoefLookup::kShortBase];
  return kTcoefInvalid;
}

}  // namespace zentrova
