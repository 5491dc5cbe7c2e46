#pragma once
// Turns the coefficient codes of one 8x8 block into dequantised coefficients in scan order, or
// placed in natural order for the transforms.
#include <cstdint>

#include "video/BitReader.h"

namespace zentrova {

// The H.263 reconstruction with an 8-bit quantiser and no clipping: |c| = q (2L + 1) for odd q,
// q (2L + 1) - 1 for even q, negated when the sign says so; the low 16 bits are kept
// (bit-exact wrap through unsigned arithmetic).
inline int16_t Dequantise(uint32_t level, bool negative, uint32_t quantiser) {
  const uint32_t magnitude = quantiser * (2 * level + 1) - ((quantiser & 1) ^ 1);
  const uint32_t value = negative ? 0u - magnitude : magnitude;
  return static_cast<int16_t>(static_cast<uint16_t>(value));
}

// Reads events from scan position `first` (1 after an intra DC, 0 otherwise) until one with
// last = 1. Entries not coded are left as they are. False on an invalid code or a run past
// position 63; the block is then incomplete.
bool DecodeBlockCoefficients(BitReader& reader, int16_t* block, int first, uint32_t quantiser);
// The same, each coefficient written straight to its place in natural order column by column
// (video/ColumnOrder.h), the layout of the ...Columns transforms.
bool DecodeBlockCoefficientsColumns(BitReader& reader, int16_t* block, int first, uint32_t quantiser);

}  // namespace zentrova
