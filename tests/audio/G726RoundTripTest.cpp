#include <cstdint>
#include <cstdio>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AudioSignals.h"
#include "audio/G726Decoder.h"

namespace zentrova {
namespace {

using testing::Scaled;
using testing::SnrDb;

// Encodes and decodes in pieces of at most 24000 samples, each direction with its own coder.
std::vector<int16_t> RoundTrip(const std::vector<int16_t>& samples, std::vector<uint8_t>* codes = nullptr) {
  G726Decoder encoder, decoder;
  EXPECT_EQ(encoder.Prepare(1), 1);
  EXPECT_EQ(decoder.Prepare(0), 1);
  std::vector<uint8_t> bytes(samples.size() / 8 * 3);
  std::vector<int16_t> out(samples.size() / 8 * 8);
  for (size_t at = 0; at + 8 <= samples.size(); at += 24000) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(24000, samples.size() / 8 * 8 - at));
    EXPECT_EQ(encoder.Encode(samples.data() + at, bytes.data() + at / 8 * 3, n), 1);
    EXPECT_EQ(decoder.Decode(bytes.data() + at / 8 * 3, out.data() + at, n / 8 * 3, 0), 1);
  }
  if (codes) *codes = bytes;
  return out;
}

TEST(G726RoundTrip, ATonComesBackAtTheSameScale) {
  // 14-bit range input, the decoder's own output scale.
  for (double hertz : {300.0, 1000.0, 2500.0}) {
    const auto tone = testing::Tone(hertz, 4000, 16000);
    const auto back = RoundTrip(tone);
    const double snr = SnrDb(Scaled(tone), Scaled(back), 400);
    std::printf("tone %.0f Hz, amplitude 4000: round-trip SNR %.2f dB\n", hertz, snr);
    // 3-bit ADPCM on a steady tone gives some 10 to 15 dB; a wrong scale or packing gives < 3.
    EXPECT_GT(snr, 8.0) << hertz << " Hz";
  }
}

TEST(G726RoundTrip, QuietAndLoudTonesAndASweepSurvive) {
  const auto quiet = testing::Tone(440, 200, 16000);
  EXPECT_GT(SnrDb(Scaled(quiet), Scaled(RoundTrip(quiet)), 800), 6.0);
  const auto loud = testing::Tone(440, 8000, 16000);
  EXPECT_GT(SnrDb(Scaled(loud), Scaled(RoundTrip(loud)), 400), 8.0);
  const auto sweep = testing::Sweep(100, 3500, 3000, 48000);
  const double snr = SnrDb(Scaled(sweep), Scaled(RoundTrip(sweep)), 400);
  std::printf("sweep 100..3500 Hz: round-trip SNR %.2f dB\n", snr);
  EXPECT_GT(snr, 6.0);
}

TEST(G726RoundTrip, SamplesBeyondTheFourteenBitRangeAreClampedNotWrapped) {
  const auto full = testing::Tone(500, 32767, 16000);
  const auto back = RoundTrip(full);
  std::vector<int16_t> clamped(full);
  for (int16_t& s : clamped) s = std::clamp<int16_t>(s, -8192, 8191);
  EXPECT_GT(SnrDb(Scaled(clamped), Scaled(back), 400), 6.0);
}

TEST(G726RoundTrip, TheEncoderNeverSendsCodeZero) {
  std::vector<uint8_t> bytes;
  RoundTrip(testing::Sweep(50, 3900, 6000, 24000), &bytes);
  for (size_t g = 0; g + 3 <= bytes.size(); g += 3) {
    const uint32_t w = bytes[g] | bytes[g + 1] << 8 | bytes[g + 2] << 16;
    for (int k = 0; k < 8; ++k) ASSERT_NE((w >> (3 * k)) & 7, 0u) << "group " << g / 3;
  }
}

TEST(G726Encode, RefusesCountsThatAreNotWholeGroupsOrTooLargeAndNeedsTheEncodingDirection) {
  std::vector<int16_t> in(24008, 100);
  std::vector<uint8_t> out(9003, 0xAA);
  G726Decoder coder;
  EXPECT_EQ(coder.Encode(in.data(), out.data(), 8), 0);  // not prepared
  EXPECT_EQ(coder.Prepare(0), 1);
  EXPECT_EQ(coder.Encode(in.data(), out.data(), 8), 0);  // prepared for decoding only
  EXPECT_EQ(coder.Prepare(1), 1);
  EXPECT_EQ(coder.Encode(in.data(), out.data(), 7), 0);
  EXPECT_EQ(coder.Encode(in.data(), out.data(), -8), 0);
  EXPECT_EQ(coder.Encode(in.data(), out.data(), 24008), 0);
  EXPECT_THAT(out, ::testing::Each(0xAA));
  EXPECT_EQ(coder.Encode(in.data(), out.data(), 0), 1);
  EXPECT_EQ(coder.Encode(in.data(), out.data(), 24000), 1);
  EXPECT_EQ(out[9000], 0xAA);
}

}  // namespace
}  // namespace zentrova
