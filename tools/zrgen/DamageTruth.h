#pragma once
// What a perfect recovery could deliver from a damaged file, frame by frame: which frames
// survived byte for byte, and which of them can be shown as recorded (their group's intra
// picture and every picture since survived too).
#include <cstdint>
#include <string>
#include <vector>

#include "Damage.h"

namespace zentrova::zrgen {

struct FrameTruth {
  int recording = 1;  // 1-based input index
  uint32_t frame = 0;  // index in the input's chain order
  bool intact = false;
  bool showable = false;
  int64_t offset = -1;  // of the frame header in the damaged file; -1 when not intact
  char picture = 'P';
};

// Judges every frame of every input by comparing its bytes where the placements put them.
std::vector<FrameTruth> JudgeFrames(const std::vector<RecordingLayout>& inputs, const DamagedFile& damaged);

// The truth file: '#' lines (class, seed, notes, columns), then one tab-separated row per frame.
std::string TruthText(DamageClass damage, uint64_t seed, const std::vector<std::string>& notes,
                      const std::vector<FrameTruth>& frames);

}  // namespace zentrova::zrgen
