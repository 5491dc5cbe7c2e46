#pragma once
// The macroblock data of intra and inter pictures: the group count, the realignment of the
// last groups, the macroblock headers, and the reconstruction of each macroblock in place.
#include <cstdint>

#include "video/BitReader.h"
#include "video/BlockReconstruction.h"
#include "video/MacroblockBuffer.h"

namespace zentrova {

// The inverse DCT in use: 64 coefficients in natural order column by column in (the layout of
// video/ColumnOrder.h), 64 samples in natural order out.
using InverseTransform = void (*)(const int16_t* coefficients, int16_t* samples);
// The same transform on two blocks at once.
using InversePairTransform = void (*)(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                                      int16_t* secondSamples);

// What the transform makes of the blocks that need no transform: an all-zero block, and a block
// holding only the intra DC 8 v. Filled by measuring the transform once; `known` is false when
// it does not map them to flat blocks, and every block is then transformed.
struct TransformShortcuts {
  bool known = false;
  int16_t zero = 0;
  int16_t dcFlat[256] = {};
};

// Measures `transform` on the blocks above.
TransformShortcuts MeasureShortcuts(InverseTransform transform);

struct MacroblockContext {
  BitReader* reader;
  Planes planes;    // of even width
  int32_t columns;  // macroblocks per row
  int32_t count;    // macroblocks in the picture
  InverseTransform transform;
  InversePairTransform transformPair;  // the same samples as `transform` on each block
  BlockWrite storeBlock;               // intra blocks into the planes
  BlockWrite addBlock;                 // inter residuals onto the planes
  const TransformShortcuts* shortcuts;
};

// True when every macroblock was decoded; false at the first failure (an intra DC code of 128,
// an invalid coefficient code, a run past position 63), with the macroblocks before it stored
// and the one in progress not.
bool DecodeIntraPicture(const MacroblockContext& context, uint32_t quantiser);
bool DecodeInterPicture(const MacroblockContext& context, uint32_t quantiser);

}  // namespace zentrova
