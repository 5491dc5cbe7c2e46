#pragma once
// When each picture of a Matroska or MP4 file plays, decided as it is written. With a rate fixed
// from the start, every picture at its number's place. When the pictures are to last as long as
// the sound (the rate is final only once the last sample is in), each at the share of the sound
// written so far that its number gives it: where the final rate puts it whenever the sound comes
// evenly, and never more than a share off when it does not.
#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

namespace zentrova::libav {

class PictureClock {
 public:
  PictureClock() = default;
  // `frameTime`: one picture at the estimated rate; `timeBase`: the stream's unit of time;
  // `bySound`: the pictures span the sound, sampled at `sampleRate`.
  PictureClock(AVRational frameTime, AVRational timeBase, bool bySound, int sampleRate)
      : frameTime_(frameTime), timeBase_(timeBase), bySound_(bySound), sampleRate_(sampleRate) {}

  // The start and length of picture `position`, in the stream's unit, with `soundSamples`
  // samples of sound written before it (its own included).
  int64_t Start(uint64_t position, uint64_t soundSamples) const;
  int64_t Duration(uint64_t position, uint64_t soundSamples) const;

 private:
  AVRational frameTime_{1, 25};
  AVRational timeBase_{1, 1000};
  bool bySound_ = false;
  int sampleRate_ = 8000;
};

}  // namespace zentrova::libav
