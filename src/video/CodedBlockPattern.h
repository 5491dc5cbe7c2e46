#pragma once
// The coded-block-pattern code for the luminance blocks (CBPY, ITU-T H.263 Table 13).
#include <cstdint>

#include "video/BitReader.h"

namespace zentrova {

struct CbpyEntry {
  uint8_t value;
  uint8_t length;
};

// Indexed by the 6-bit look-ahead. The look-aheads 000000 and 000001, which no code uses,
// read like the code 11: CBPY 0 with 2 bits consumed.
struct CbpyLookup {
  CbpyEntry entries[64];
};
extern const CbpyLookup kCbpyLookup;

// The CBPY value 0..15; bit 3 belongs to block 0 (upper left), bit 0 to block 3.
inline uint32_t ReadCbpy(BitReader& reader) {
  const CbpyEntry& entry = kCbpyLookup.entries[reader.Peek(6)];
  reader.Skip(entry.length);
  return entry.value;
}

}  // namespace zentrova
