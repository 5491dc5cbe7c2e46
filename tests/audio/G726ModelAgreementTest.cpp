// Our decoder against a second, independent model of the standard's arithmetic (g726_model.py in
// this folder): both must give the same samples, bit for bit, on a stream of random codes and on
// a stream that passes the tone detector and its transitions (a steady tone, a loud square burst,
// another tone). The hashes come from that model; rerun it to check them.
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "audio/G726Decoder.h"

namespace zentrova {
namespace {

uint64_t Fnv1a(const uint8_t* data, size_t size) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
  return h;
}

uint64_t HashSamples(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes;
  for (int16_t s : samples) {
    bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s)));
    bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
  }
  return Fnv1a(bytes.data(), bytes.size());
}

std::vector<int16_t> Decode(const std::vector<uint8_t>& codes) {
  G726Decoder decoder;
  EXPECT_TRUE(decoder.Prepare(0));
  std::vector<int16_t> out(codes.size() / 3 * 8);
  EXPECT_TRUE(decoder.Decode(codes.data(), out.data(), static_cast<int32_t>(codes.size())));
  return out;
}

TEST(G726ModelAgreement, RandomCodesDecodeAsTheIndependentModelDoes) {
  std::vector<uint8_t> codes(6000);
  uint32_t seed = 12345;
  for (uint8_t& b : codes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  EXPECT_EQ(HashSamples(Decode(codes)), 0xe3233723f18ed2feull);
}

TEST(G726ModelAgreement, ToneBurstToneCodesDecodeAsTheIndependentModelDoes) {
  // 16-bit PCM: one second of 1000 Hz, a 0.1 s square burst at +-30000, 0.9 s of 440 Hz.
  std::vector<int16_t> pcm;
  for (int n = 0; n < 8000; ++n) pcm.push_back(static_cast<int16_t>(std::lround(16000 * std::sin(2 * std::numbers::pi * 1000 * n / 8000))));
  for (int n = 0; n < 800; ++n) pcm.push_back((n / 40) % 2 == 0 ? 30000 : -30000);
  for (int n = 0; n < 7200; ++n) pcm.push_back(static_cast<int16_t>(std::lround(12000 * std::sin(2 * std::numbers::pi * 440 * n / 8000))));
  for (int16_t& s : pcm) s = static_cast<int16_t>(s >> 2);  // to the coder's 14-bit scale

  G726Decoder encoder;
  EXPECT_TRUE(encoder.Prepare(1));
  std::vector<uint8_t> codes(pcm.size() / 8 * 3);
  ASSERT_TRUE(encoder.Encode(pcm.data(), codes.data(), static_cast<int32_t>(pcm.size())));
  ASSERT_EQ(Fnv1a(codes.data(), codes.size()), 0x46b8998901ac0609ull) << "the encoder's codes changed";
  EXPECT_EQ(HashSamples(Decode(codes)), 0x550fdeab0054978eull);
}

}  // namespace
}  // namespace zentrova
