#pragma once
// Test signals at 8000 samples/s and the signal-to-noise measure the audio tests share.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace zentrova::testing {

inline constexpr double kSampleRate = 8000.0;

// A sine of the given frequency and peak amplitude.
inline std::vector<int16_t> Tone(double hertz, double amplitude, int count) {
  std::vector<int16_t> out(static_cast<size_t>(count));
  for (int n = 0; n < count; ++n)
    out[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * n / kSampleRate)));
  return out;
}

// A sine whose frequency climbs linearly from `from` to `to` hertz over the count.
inline std::vector<int16_t> Sweep(double from, double to, double amplitude, int count) {
  std::vector<int16_t> out(static_cast<size_t>(count));
  double phase = 0;
  for (int n = 0; n < count; ++n) {
    const double hertz = from + (to - from) * n / count;
    phase += 2 * std::numbers::pi * hertz / kSampleRate;
    out[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
  }
  return out;
}

// 10 log10 of the reference's energy over the energy of the difference, over the common length,
// skipping `skip` samples at the start while the adaptation settles.
inline double SnrDb(const std::vector<double>& reference, const std::vector<double>& test, size_t skip = 0) {
  const size_t n = std::min(reference.size(), test.size());
  double signal = 0, noise = 0;
  for (size_t i = skip; i < n; ++i) {
    signal += reference[i] * reference[i];
    noise += (reference[i] - test[i]) * (reference[i] - test[i]);
  }
  if (noise == 0) return 200.0;
  return 10 * std::log10(signal / noise);
}

inline std::vector<double> Scaled(const std::vector<int16_t>& v, double factor = 1.0) {
  std::vector<double> out(v.size());
  std::transform(v.begin(), v.end(), out.begin(), [factor](int16_t s) { return s * factor; });
  return out;
}

}  // namespace zentrova::testing
