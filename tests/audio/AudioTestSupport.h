#pragma once
// What the audio tests share: test signals at 8000 samples/s, the signal-to-noise measure, whole
// streams through our coder, and raw 16-bit little-endian PCM files.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/G726Decoder.h"

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
    phase += 2 * std::numbers::pi * (from + (to - from) * n / count) / kSampleRate;
    out[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
  }
  return out;
}

// 10 log10 of the reference's energy over that of test x scale - reference, over the common
// length, from sample `skip` on (the adaptation settles at the start).
inline double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, double scale = 1.0,
                    size_t skip = 0) {
  const size_t n = std::min(reference.size(), test.size());
  double signal = 0, noise = 0;
  for (size_t i = skip; i < n; ++i) {
    const double r = reference[i];
    const double error = r - scale * test[i];
    signal += r * r;
    noise += error * error;
  }
  return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

// A whole stream of codes through one decoder, in calls of at most kBufferBytes.
inline std::vector<int16_t> DecodeAll(const std::vector<uint8_t>& codes) {
  G726Decoder decoder;
  EXPECT_TRUE(decoder.Prepare(0));
  const size_t usable = codes.size() / 3 * 3;
  std::vector<int16_t> out(usable / 3 * 8);
  for (size_t at = 0; at < usable; at += G726Decoder::kBufferBytes) {
    const auto n = static_cast<int32_t>(std::min<size_t>(G726Decoder::kBufferBytes, usable - at));
    EXPECT_TRUE(decoder.Decode(codes.data() + at, out.data() + at / 3 * 8, n));
  }
  return out;
}

// Whole groups of eight samples (at the coder's 14-bit scale) through one encoder.
inline std::vector<uint8_t> EncodeAll(const std::vector<int16_t>& samples) {
  G726Decoder encoder;
  EXPECT_TRUE(encoder.Prepare(1));
  const size_t usable = samples.size() / 8 * 8;
  std::vector<uint8_t> out(usable / 8 * 3);
  for (size_t at = 0; at < usable; at += 24000) {
    const auto n = static_cast<int32_t>(std::min<size_t>(24000, usable - at));
    EXPECT_TRUE(encoder.Encode(samples.data() + at, out.data() + at / 8 * 3, n));
  }
  return out;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<int16_t> ReadPcm(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  std::vector<int16_t> pcm(bytes.size() / 2);
  for (size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
  return pcm;
}

inline void WritePcm(const std::string& path, const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> bytes;
  for (int16_t s : pcm) {
    bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s)));
    bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
  }
  WriteBytes(path, bytes);
}

}  // namespace zentrova::testing
