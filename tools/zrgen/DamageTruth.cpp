#include "DamageTruth.h"

#include <algorithm>
#include <cstring>

namespace zentrova::zrgen {

namespace {

const Placement* PlacementHolding(const std::vector<Placement>& placements, uint64_t position) {
  for (const Placement& p : placements)
    if (position >= p.from && position - p.from < p.size) return &p;
  return nullptr;
}

// Every byte of [begin, end) of the input sits unchanged where the placements put it. A frame
// split across fragments counts as intact: its bytes are all there, joined by the file's own
// order.
bool BytesSurvive(const RecordingLayout& input, const std::vector<Placement>& placements,
                  const std::vector<uint8_t>& damaged, uint64_t begin, uint64_t end) {
  for (uint64_t position = begin; position < end;) {
    const Placement* p = PlacementHolding(placements, position);
    if (p == nullptr) return false;
    const uint64_t length = std::min(end, p->from + p->size) - position;
    const uint64_t at = p->at + (position - p->from);
    if (at + length > damaged.size()) return false;
    if (std::memcmp(&damaged[at], &input.bytes[position], length) != 0) return false;
    position += length;
  }
  return true;
}

}  // namespace

std::vector<FrameTruth> JudgeFrames(const std::vector<RecordingLayout>& inputs, const DamagedFile& damaged) {
  std::vector<FrameTruth> truths;
  for (size_t r = 0; r < inputs.size(); ++r) {
    const RecordingLayout& input = inputs[r];
    const std::vector<Placement>& placements = damaged.placements[r];
    // Whether the pictures since the last intra picture all survived: an inter picture is shown
    // as recorded only on its own reference. Frames without a picture are never decoded, so they
    // neither break nor mend the chain.
    bool referenceIntact = false;
    for (uint32_t f = 0; f < input.frames.size(); ++f) {
      const FrameSpan& span = input.frames[f];
      FrameTruth truth;
      truth.recording = static_cast<int>(r + 1);
      truth.frame = f;
      truth.picture = span.picture;
      truth.intact = BytesSurvive(input, placements, damaged.bytes, span.offset, span.offset + span.size);
      if (truth.intact) {
        const Placement* p = PlacementHolding(placements, span.offset);
        truth.offset = static_cast<int64_t>(p->at + (span.offset - p->from));
      }
      if (span.picture == 'N') {
        truth.showable = truth.intact;
      } else {
        referenceIntact = span.picture == 'I' ? truth.intact : referenceIntact && truth.intact;
        truth.showable = referenceIntact;
      }
      truths.push_back(truth);
    }
  }
  return truths;
}

std::string TruthText(DamageClass damage, uint64_t seed, const std::vector<std::string>& notes,
                      const std::vector<FrameTruth>& frames) {
  std::string text = std::string("# class ") + DamageClassName(damage) + "\n# seed " + std::to_string(seed) + "\n";
  for (const std::string& note : notes) text += "# " + note + "\n";
  text += "# recording\tframe\tintact\tshowable\toffset\tpicture\n";
  for (const FrameTruth& f : frames) {
    text += std::to_string(f.recording) + '\t' + std::to_string(f.frame) + '\t' + (f.intact ? '1' : '0') + '\t' +
            (f.showable ? '1' : '0') + '\t' + std::to_string(f.offset) + '\t' + f.picture + '\n';
  }
  return text;
}

}  // namespace zentrova::zrgen
