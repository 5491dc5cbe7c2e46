#include "convert/FrameRate.h"

#include <algorithm>
#include <charconv>
#include <numeric>

namespace zentrova {
namespace {

// The fraction closest to num / den whose terms are at most maxTerm: the last convergent or
// semiconvergent of the continued fraction that fits.
FrameRate Approximate(uint64_t num, uint64_t den, uint64_t maxTerm) {
  uint64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;  // convergents h(k-2)/k(k-2), h(k-1)/k(k-1)
  uint64_t n = num, d = den;
  while (d != 0) {
    const uint64_t a = n / d;
    const unsigned __int128 p2 = static_cast<unsigned __int128>(a) * p1 + p0;
    const unsigned __int128 q2 = static_cast<unsigned __int128>(a) * q1 + q0;
    if (p2 > maxTerm || q2 > maxTerm) {
      // The largest t that keeps both terms in range gives the best semiconvergent; it beats
      // the last convergent only when 2t >= a (and for 2t == a only sometimes; taking it then
      // is at most a rounding apart).
      const uint64_t tp = p1 ? (maxTerm - p0) / p1 : a;
      const uint64_t tq = q1 ? (maxTerm - q0) / q1 : a;
      const uint64_t t = std::min(tp, tq);
      if (2 * t >= a && t > 0) return {static_cast<uint32_t>(t * p1 + p0), static_cast<uint32_t>(t * q1 + q0)};
      if (q1 == 0) return {static_cast<uint32_t>(maxTerm), 1};
      return {static_cast<uint32_t>(p1), static_cast<uint32_t>(q1)};
    }
    p0 = p1;
    q0 = q1;
    p1 = static_cast<uint64_t>(p2);
    q1 = static_cast<uint64_t>(q2);
    const uint64_t r = n % d;
    n = d;
    d = r;
  }
  return {static_cast<uint32_t>(p1), static_cast<uint32_t>(q1)};
}

bool ParseWhole(std::string_view s, uint64_t* out) {
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc{} && end == s.data() + s.size();
}

bool Below(const FrameRate& a, const FrameRate& b) { return uint64_t{a.num} * b.den < uint64_t{b.num} * a.den; }

}  // namespace

std::string FrameRate::text() const {
  return den == 1 ? std::to_string(num) : std::to_string(num) + "/" + std::to_string(den);
}

FrameRate FrameRate::Reduced(uint64_t num, uint64_t den, uint64_t maxTerm) {
  if (den == 0) return {0, 1};
  if (num == 0) return {0, 1};
  maxTerm = std::clamp<uint64_t>(maxTerm, 1, kMaxTerm);
  const uint64_t g = std::gcd(num, den);
  num /= g;
  den /= g;
  if (num <= maxTerm && den <= maxTerm) return {static_cast<uint32_t>(num), static_cast<uint32_t>(den)};
  return Approximate(num, den, maxTerm);
}

FrameRate FrameRate::Bounded() const {
  if (den == 0 || Below(*this, kMinRate)) return kMinRate;
  if (Below(kMaxRate, *this)) return kMaxRate;
  return *this;
}

Expected<RateChoice> RateChoice::Parse(const std::string& text) {
  auto fail = [](const std::string& why) -> Expected<RateChoice> { return Failure(why); };
  if (text == "auto") return RateChoice{Mode::Auto, {}};
  if (text == "classic") return RateChoice{Mode::Classic, {}};
  const size_t slash = text.find('/');
  uint64_t num = 0, den = 1;
  const std::string_view s(text);
  if (!ParseWhole(s.substr(0, slash), &num) ||
      (slash != std::string::npos && !ParseWhole(s.substr(slash + 1), &den)))
    return fail("\"" + text + "\" is not auto, classic, N or N/D");
  if (num == 0 || den == 0) return fail("a rate of " + text + " frames per second is not a rate");
  if (num > FrameRate::kMaxTerm || den > FrameRate::kMaxTerm) return fail(text + " has terms too large");
  const FrameRate rate = FrameRate::Reduced(num, den);
  if (Below(rate, kMinRate) || Below(kMaxRate, rate))
    return fail("a rate of " + text + " frames per second is outside 1/60 to 120");
  return RateChoice{Mode::Forced, rate};
}

const char* RateSourceText(RateSource source) {
  switch (source) {
    case RateSource::Sound: return "frames and samples of sound";
    case RateSource::Duration: return "frames and duration";
    case RateSource::NoTiming: return "no sound and no duration: the default";
    case RateSource::Classic: return "classic rule (frames / duration + 1)";
    case RateSource::Forced: return "given on the command line";
  }
  return "";
}

int64_t RecordingDuration(int32_t startTime, int32_t endTime) { return int64_t{endTime} - int64_t{startTime}; }

namespace {

DerivedRate Finish(FrameRate rate, RateSource source) {
  const FrameRate bounded = rate.Bounded();
  return {bounded, source, !(bounded == rate)};
}

}  // namespace

DerivedRate AutoRate(uint64_t frames, uint64_t samples, int32_t startTime, int32_t endTime) {
  if (samples > 0) {
    // frames * 8000 fits: frame counts are 32-bit.
    return Finish(FrameRate::Reduced(std::min<uint64_t>(frames, UINT32_MAX) * kAudioSampleRate, samples),
                  RateSource::Sound);
  }
  const int64_t duration = RecordingDuration(startTime, endTime);
  if (duration <= 0) return {kDefaultRate, RateSource::NoTiming, false};
  return Finish(FrameRate::Reduced(frames, static_cast<uint64_t>(duration)), RateSource::Duration);
}

uint32_t ClassicWholeRate(uint32_t frames, int32_t startTime, int32_t endTime) {
  // The difference is unsigned: an end before the start gives a huge duration and rate 1.
  const uint32_t duration = static_cast<uint32_t>(endTime) - static_cast<uint32_t>(startTime);
  if (duration == 0) return kDefaultRate.num;
  return frames / duration + 1;  // 32-bit, as the original: 2^32 - 1 frames in 1 s wrap to 0
}

DerivedRate ClassicRate(uint32_t frames, int32_t startTime, int32_t endTime) {
  const uint32_t duration = static_cast<uint32_t>(endTime) - static_cast<uint32_t>(startTime);
  const uint64_t whole = duration == 0 ? kDefaultRate.num : uint64_t{frames / duration} + 1;
  return Finish(FrameRate::Reduced(whole, 1), RateSource::Classic);
}

DerivedRate ChooseRate(const RateChoice& choice, uint64_t frames, uint64_t samples, int32_t startTime,
                       int32_t endTime) {
  switch (choice.mode) {
    case RateChoice::Mode::Classic:
      return ClassicRate(static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX)), startTime, endTime);
    case RateChoice::Mode::Forced: return Finish(choice.forced, RateSource::Forced);
    case RateChoice::Mode::Auto: break;
  }
  return AutoRate(frames, samples, startTime, endTime);
}

}  // namespace zentrova
