#pragma once
// The video stream's frame rate as a reduced fraction (frames per second = num / den), and the
// rules that choose it: the recording's own timing (the default), the classic whole-number rule,
// or a rate the user forces. Every rule ends in the same bound, 1/60 to 120 frames per second,
// which players accept and which a hostile header ("a million frames in 8 s") cannot leave.
#include <cstdint>
#include <climits>
#include <optional>
#include <string>

#include "base/Expected.h"

namespace zentrova {

struct FrameRate {
  uint32_t num = 25;
  uint32_t den = 1;

  double fps() const { return den ? static_cast<double>(num) / den : 0.0; }
  // "25", "5/3".
  std::string text() const;
  friend bool operator==(const FrameRate&, const FrameRate&) = default;

  // num / den reduced; terms above `maxTerm` (at most 2^31 - 1) are replaced by the nearest
  // fraction whose terms fit. The result is not bounded; den 0 gives 0/1.
  static FrameRate Reduced(uint64_t num, uint64_t den, uint64_t maxTerm = kMaxTerm);
  // Terms are kept to 31 bits: AVI takes 32-bit ones, libavcodec signed ones.
  static constexpr uint64_t kMaxTerm = INT32_MAX;
  // The rate kept between kMin and kMax.
  FrameRate Bounded() const;
};

inline constexpr FrameRate kMinRate{1, 60};
inline constexpr FrameRate kMaxRate{120, 1};
// Without sound and without a duration the recording says nothing of its timing.
inline constexpr FrameRate kDefaultRate{25, 1};
inline constexpr uint32_t kAudioSampleRate = 8000;

// How the rate of one conversion is chosen.
struct RateChoice {
  enum class Mode { Auto, Classic, Forced };
  Mode mode = Mode::Auto;
  FrameRate forced;  // Mode::Forced

  // "auto", "classic", "N" or "N/D" (N, D whole numbers, N/D between 1/60 and 120).
  // nullopt with `error` set when the text is none of these.
  static Expected<RateChoice> Parse(const std::string& text);
};

// Where a rate came from.
enum class RateSource {
  Sound,         // frames x 8000 / samples of sound
  Duration,      // frames / the recording's duration
  NoTiming,      // no sound and no duration: kDefaultRate
  Classic,       // frames / duration in whole numbers, plus 1
  Forced,        // given by the user
};
const char* RateSourceText(RateSource source);

struct DerivedRate {
  FrameRate rate;
  RateSource source = RateSource::NoTiming;
  bool bounded = false;  // the rule gave a rate outside the bound, and the bound was used
};

// The duration of a recording: end - start, as a signed difference of the two header times.
int64_t RecordingDuration(int32_t startTime, int32_t endTime);

// The recording's own rate: with sound (samples > 0) frames x 8000 / samples; without it
// frames / duration; with neither, 25 fps. Bounded.
DerivedRate AutoRate(uint64_t frames, uint64_t samples, int32_t startTime, int32_t endTime);
// The classic rule: frames / (end - start) + 1 in whole numbers, the difference taken as an
// unsigned 32-bit number; 25 for a zero duration. Unbounded, as the original's files have it.
uint32_t ClassicWholeRate(uint32_t frames, int32_t startTime, int32_t endTime);
// The same, bounded.
DerivedRate ClassicRate(uint32_t frames, int32_t startTime, int32_t endTime);
// The rate of `choice` for a recording (Auto and Classic as above, Forced bounded as given).
DerivedRate ChooseRate(const RateChoice& choice, uint64_t frames, uint64_t samples, int32_t startTime,
                       int32_t endTime);

}  // namespace zentrova
