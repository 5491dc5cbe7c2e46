#pragma once
// From a source picture at the recording's size (top row first, as cameras and ffmpeg deliver
// it) to the planes the encoder codes: upside down, because the converter hands plane row 0 to
// the AVI file as its bottom row, and reduced to the coded size of the newer generation, whose
// decoder enlarges it again.
#include <optional>

#include "Planes.h"

namespace zentrova::zrgen {

enum class Reduction {
  None,        // coded at the recording size
  Columns,     // 640 x 240 -> 320 x 240, 704 x 288 -> 352 x 288: every second column
  Both,        // 352 x 288 -> 176 x 144: half in both directions
  BothPadded,  // 320 x 240 -> 160 x 120 shown, coded as 160 x 128 (8 hidden rows)
};

struct CodedLayout {
  int width;
  int height;
  Reduction reduction;
};

// The coded size of a recording size in one generation (format version 4096 selects the newer).
// Sizes the newer generation has no reduction for are coded as they are.
CodedLayout CodedLayoutFor(int width, int height, bool newerGeneration);

// The size the newer generation's decoder delivers for a coded size (it enlarges four sizes).
// A recording whose coded size does not come back at its own size cannot be written in it.
void DeliveredSize(int codedWidth, int codedHeight, int& width, int& height);

// Flip and reduce. `source` must have the recording's size.
Planes PrepareForCoding(const Planes& source, const CodedLayout& layout);

}  // namespace zentrova::zrgen
