#pragma once
// Valid but adversarial streams: pictures that walk through every corner of the syntax a
// decoder must take (every TCOEF code, every ESCAPE level, runs that end on position 63, every
// CBPY and CBPC value, the quantisers 0, 1, 2, odd, even and 255, start codes late in the frame,
// unusual group counts) and frames a reader must take (blocks of no frames, frames without a
// picture). Every picture decodes to the end.
#include <cstdint>
#include <vector>

#include "PictureSyntax.h"

namespace zentrova::zrgen {

struct StressStep {
  enum class Kind { Picture, NoPicture, EmptyBlock };
  Kind kind = Kind::Picture;
  PicturePlan plan;  // Picture only
  int noPictureBytes = 0;  // NoPicture: video bytes carried all the same (never decoded)
};

// The whole walk for one coded size; the first step is an intra picture.
std::vector<StressStep> StressSequence(int codedWidth, int codedHeight, uint32_t seed);

// Each coded block of `blocks` holds some of `events` (last flags are set here), so that every
// event appears once and no block runs past position 63. Blocks are filled from `first` on.
std::vector<BlockPlan> PackEvents(const std::vector<CoefficientEvent>& events,
                                  const std::vector<CoefficientEvent>& closers, int first);

}  // namespace zentrova::zrgen
