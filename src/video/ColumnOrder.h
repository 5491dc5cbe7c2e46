#pragma once
// The coefficient layout the decoder writes for the fast transform entry points: natural order
// stored column by column, entry 8 * column + row holding coefficient (row, column). Both SIMD
// transforms start by running down the columns of that array, so they load it as it stands,
// with no reordering.
#include <array>
#include <cstdint>

#include "video/InverseDctVectorLanes.h"

namespace zentrova {

// Transmission index -> position in the column-by-column layout: the inverse of
// vector_idct::kTransposedZigzag (the zigzag scan of ITU-T T.81 with the transposition folded in).
inline constexpr std::array<uint8_t, 64> kScanToColumnOrder = [] {
  std::array<uint8_t, 64> table{};
  for (int position = 0; position < 64; ++position)
    table[vector_idct::kTransposedZigzag[position]] = static_cast<uint8_t>(position);
  return table;
}();

// Transmission index -> itself: the scan-order layout of the reference entry points.
inline constexpr std::array<uint8_t, 64> kScanToScanOrder = [] {
  std::array<uint8_t, 64> table{};
  for (int i = 0; i < 64; ++i) table[i] = static_cast<uint8_t>(i);
  return table;
}();

}  // namespace zentrova
