#include <cstdint>
#include <cstdio>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "audio/G726Decoder.h"

namespace zentrova {
namespace {

using testing::DecodeAll;
using testing::EncodeAll;
using testing::SnrDb;

// Encoder input is at the decoder's own 14-bit output scale, so the round trip needs no scaling.
TEST(G726RoundTrip, TonesAndASweepComeBackAtTheSameScale) {
  struct Case {
    const char* name;
    std::vector<int16_t> signal;
  };
  const Case cases[] = {
      {"300 Hz", testing::Tone(300, 4000, 16000)},   {"1000 Hz", testing::Tone(1000, 4000, 16000)},
      {"2500 Hz", testing::Tone(2500, 4000, 16000)}, {"quiet 440 Hz", testing::Tone(440, 200, 16000)},
      {"loud 440 Hz", testing::Tone(440, 8000, 16000)}, {"sweep", testing::Sweep(100, 3500, 3000, 48000)},
  };
  for (const Case& c : cases) {
    const double snr = SnrDb(c.signal, DecodeAll(EncodeAll(c.signal)), 1.0, 800);
    std::printf("%s: round-trip SNR %.2f dB\n", c.name, snr);
    // Measured 25 to 42 dB; a wrong scale, sign or packing gives 3 dB or less.
    EXPECT_GT(snr, 10.0) << c.name;
  }
}

TEST(G726RoundTrip, SamplesBeyondTheFourteenBitRangeAreClampedNotWrapped) {
  const auto full = testing::Tone(500, 32767, 16000);
  std::vector<int16_t> clamped(full);
  for (int16_t& s : clamped) s = std::clamp<int16_t>(s, -8192, 8191);
  EXPECT_GT(SnrDb(clamped, DecodeAll(EncodeAll(full)), 1.0, 400), 10.0);
}

TEST(G726Encode, RefusesCountsThatAreNotWholeGroupsOrTooLargeAndNeedsTheEncodingDirection) {
  std::vector<int16_t> in(24008, 100);
  std::vector<uint8_t> out(9003, 0xAA);
  G726Decoder coder;
  EXPECT_FALSE(coder.Encode(in.data(), out.data(), 8));  // not prepared
  EXPECT_TRUE(coder.Prepare(0));
  EXPECT_FALSE(coder.Encode(in.data(), out.data(), 8));  // prepared for decoding only
  EXPECT_TRUE(coder.Prepare(1));
  EXPECT_FALSE(coder.Encode(in.data(), out.data(), 7));
  EXPECT_FALSE(coder.Encode(in.data(), out.data(), -8));
  EXPECT_FALSE(coder.Encode(in.data(), out.data(), 24008));
  EXPECT_THAT(out, ::testing::Each(0xAA));
  EXPECT_TRUE(coder.Encode(in.data(), out.data(), 0));
  EXPECT_TRUE(coder.Encode(in.data(), out.data(), 24000));
  EXPECT_EQ(out[9000], 0xAA);
}

}  // namespace
}  // namespace zentrova
