#pragma once
// What a player needs to know of a whole recording before it shows the first picture: where each
// frame sits (for positioned reading), which frames hold intra pictures (where decoding may start
// after a seek), how many samples of sound come before each frame, and the clock this gives the
// frames: the job's rate rule, so that the pictures last exactly as long as the sound.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Expected.h"
#include "convert/FrameRate.h"

namespace zentrova {

class ZrReader;

namespace gst {

inline constexpr uint64_t kNanosecond = 1000000000ull;

struct IndexedFrame {
  uint64_t samplesBefore = 0;  // samples of sound in the frames before this one
  uint32_t block = 0;          // where positioned access finds it
  uint16_t frameInBlock = 0;   // a block holds at most 65535 frames
  bool intra = false;          // a picture that decodes without the ones before it
};

// The most frames indexed (93 hours at 25 frames a second, 128 MB of index): a hostile header
// whose blocks overlap can declare far more frames than its file holds.
inline constexpr uint32_t kMaxIndexedFrames = 1u << 23;

class RecordingIndex {
 public:
  // Reads every frame once, without decoding it. Frames the reader cannot deliver end the index
  // (a recording cut short plays what it holds), as does kMaxIndexedFrames. Refused when no frame
  // at all can be read or memory runs out.
  static Expected<RecordingIndex> Build(ZrReader& reader);

  uint32_t frameCount() const { return static_cast<uint32_t>(frames_.size()); }
  uint64_t sampleCount() const { return samples_; }
  const DerivedRate& rate() const { return rate_; }
  const IndexedFrame& frame(uint32_t i) const { return frames_[i]; }

  // Nanoseconds from the start of the recording.
  uint64_t TimeOfFrame(uint32_t frame) const;
  uint64_t TimeOfSample(uint64_t sample) const;
  uint64_t duration() const { return TimeOfFrame(frameCount()); }
  // The frame shown at `time` (the last one for a time at or past the end).
  uint32_t FrameAt(uint64_t time) const;
  // The nearest intra picture at or before `frame`; the first frame when there is none.
  uint32_t IntraAtOrBefore(uint32_t frame) const;
  // The nearest intra picture after `frame`, if there is one.
  std::optional<uint32_t> IntraAfter(uint32_t frame) const;

 private:
  std::vector<IndexedFrame> frames_;
  std::vector<uint32_t> intraFrames_;  // ascending
  uint64_t samples_ = 0;
  DerivedRate rate_;
};

// Whether a frame's video bytes begin an intra picture (the start code found, the type intra).
bool IsIntraPicture(const uint8_t* bytes, uint32_t byteCount);

}  // namespace gst
}  // namespace zentrova
