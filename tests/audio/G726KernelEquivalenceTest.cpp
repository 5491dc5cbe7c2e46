// Every sound decoder kernel, at every instruction-set level this processor has, against the
// portable reference: the same sample and the same state after every code, on long random
// streams, on the streams that push the arithmetic to its edges (the largest magnitudes of one
// sign until the signal wraps, alternating extremes, silence), and on coded tones that set the
// tone detector and trip its transitions.
//
// ZENTROVA_G726_CODES=<count> raises the length of the random streams.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "audio/CodePacking.h"
#include "audio/G726Dsp.h"
#include "audio/G726State.h"
#include "support/CpuLevels.h"

namespace zentrova {
namespace {

using Level = testing::LevelTables<G726Dsp>;

const std::vector<Level>& Levels() { return testing::TablesPerLevel<G726Dsp>(InitG726Dsp); }

#if defined(__SANITIZE_ADDRESS__)
constexpr long kDefaultCodes = 1L << 15;
#else
constexpr long kDefaultCodes = 1L << 19;
#endif

long RandomCodeCount() {
  const char* text = std::getenv("ZENTROVA_G726_CODES");
  return text && *text ? std::strtol(text, nullptr, 10) : kDefaultCodes;
}

std::string Describe(const G726State& s) {
  std::string d = "yl " + std::to_string(s.yl) + " yu " + std::to_string(s.yu) + " dms " + std::to_string(s.dms) +
                  " dml " + std::to_string(s.dml) + " ap " + std::to_string(s.ap) + " td " + std::to_string(s.td) +
                  " a";
  for (int16_t v : s.a) d += " " + std::to_string(v);
  d += " b";
  for (int16_t v : s.b) d += " " + std::to_string(v);
  d += " pk";
  for (int16_t v : s.pk) d += " " + std::to_string(v);
  d += " dq";
  for (int16_t v : s.dq) d += " " + std::to_string(v);
  d += " sr";
  for (int16_t v : s.sr) d += " " + std::to_string(v);
  return d;
}

bool SameState(const G726State& x, const G726State& y) {
  return x.yl == y.yl && x.yu == y.yu && x.dms == y.dms && x.dml == y.dml && x.ap == y.ap && x.td == y.td &&
         std::equal(std::begin(x.a), std::end(x.a), y.a) && std::equal(std::begin(x.b), std::end(x.b), y.b) &&
         std::equal(std::begin(x.pk), std::end(x.pk), y.pk) && std::equal(std::begin(x.dq), std::end(x.dq), y.dq) &&
         std::equal(std::begin(x.sr), std::end(x.sr), y.sr);
}

// What a stream drove the reference through, so a test can show it reached the branches it is about.
struct Coverage {
  bool toneDetected = false;
  bool transition = false;
  bool wrapped = false;  // a sample at one end of the 16-bit range right after one at the other
};

// Decodes the codes one at a time with the reference and with every level's kernel, and requires
// the same sample and the same state after each; `coverage` tells what the stream reached.
void ExpectSameStepByStep(const std::vector<uint8_t>& codes, const std::string& what, Coverage* coverage = nullptr) {
  Coverage reached;
  for (const Level& level : Levels()) {
    G726State reference, kernel;
    int16_t previous = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
      const bool detected = reference.td != 0;
      const int16_t expected = g726::DecodeSample(codes[i], reference);
      int16_t sample = 0x5a5a;
      level.dsp.decode(&codes[i], &sample, 1, kernel);
      ASSERT_EQ(sample, expected) << level.name << ", " << what << ", code " << i;
      if (!SameState(kernel, reference)) {
        ASSERT_EQ(Describe(kernel), Describe(reference)) << level.name << ", " << what << ", state after code " << i;
      }
      reached.toneDetected |= detected;
      reached.transition |= detected && reference.ap == 256 && reference.a[0] == 0 && reference.a[1] == 0;
      reached.wrapped |= (previous > 16384 && expected < -16384) || (previous < -16384 && expected > 16384);
      previous = expected;
    }
  }
  if (coverage) *coverage = reached;
}

// The same stream in runs of varied length, where the kernel keeps the state in its registers
// from code to code: the samples and the state at the end of each run.
void ExpectSameInRuns(const std::vector<uint8_t>& codes, const std::string& what) {
  std::vector<int16_t> expected(codes.size());
  G726State reference;
  g726::DecodeRun(codes.data(), expected.data(), static_cast<int32_t>(codes.size()), reference);
  for (const Level& level : Levels()) {
    std::mt19937 rng(7);
    std::vector<int16_t> samples(codes.size() + 1, 0x5a5a);
    G726State kernel;
    for (size_t at = 0; at < codes.size();) {
      const size_t n = std::min<size_t>(codes.size() - at, rng() % 700);
      level.dsp.decode(codes.data() + at, samples.data() + at, static_cast<int32_t>(n), kernel);
      at += n;
    }
    ASSERT_EQ(samples.back(), 0x5a5a) << level.name << ", " << what << ": wrote past the samples";
    samples.pop_back();
    ASSERT_EQ(samples, expected) << level.name << ", " << what;
    ASSERT_EQ(Describe(kernel), Describe(reference)) << level.name << ", " << what << ", state at the end";
  }
}

std::vector<uint8_t> Repeated(std::initializer_list<uint8_t> pattern, size_t count) {
  std::vector<uint8_t> codes;
  while (codes.size() < count)
    for (uint8_t c : pattern) codes.push_back(c);
  codes.resize(count);
  return codes;
}

// The codes our encoder gives for a steady tone, a loud square burst and another tone: the
// detector is set by the tones and the burst is a transition.
std::vector<uint8_t> ToneBurstTone() {
  std::vector<int16_t> pcm;
  for (int n = 0; n < 8000; ++n)
    pcm.push_back(static_cast<int16_t>(std::lround(4000 * std::sin(2 * std::numbers::pi * 1000 * n / 8000))));
  for (int n = 0; n < 800; ++n) pcm.push_back((n / 40) % 2 == 0 ? 7500 : -7500);
  for (int n = 0; n < 7200; ++n)
    pcm.push_back(static_cast<int16_t>(std::lround(3000 * std::sin(2 * std::numbers::pi * 440 * n / 8000))));
  const std::vector<uint8_t> packed = testing::EncodeAll(pcm);
  std::vector<uint8_t> codes;
  for (size_t at = 0; at + g726::kBytesPerGroup <= packed.size(); at += g726::kBytesPerGroup)
    for (uint8_t code : g726::UnpackCodes(packed.data() + at)) codes.push_back(code);
  return codes;
}

TEST(G726KernelLevels, ThePortableLevelIsAlwaysThere) {
  ASSERT_FALSE(Levels().empty());
  EXPECT_STREQ(Levels().front().name, "c");
  EXPECT_EQ(Levels().front().dsp.decode, &g726::DecodeRun);
}

TEST(G726Kernels, RandomCodesGiveTheSameSamplesAndStateAtEveryStep) {
  std::mt19937 rng(20261209);
  std::vector<uint8_t> codes(static_cast<size_t>(RandomCodeCount()));
  // Whole bytes: the bits above the code must be ignored alike.
  for (uint8_t& c : codes) c = static_cast<uint8_t>(rng());
  ASSERT_NO_FATAL_FAILURE(ExpectSameStepByStep(codes, "random codes"));
  ASSERT_NO_FATAL_FAILURE(ExpectSameInRuns(codes, "random codes"));

  // Long stretches of one magnitude between random ones, where the scale factor sits at its limits.
  std::vector<uint8_t> stretches;
  while (stretches.size() < codes.size() / 4) {
    const uint8_t code = static_cast<uint8_t>(rng() & 7);
    stretches.insert(stretches.end(), rng() % 200, code);
    stretches.push_back(static_cast<uint8_t>(rng() & 7));
  }
  ASSERT_NO_FATAL_FAILURE(ExpectSameStepByStep(stretches, "stretches of one code"));
}

TEST(G726Kernels, TheEdgeStreamsGiveTheSameSamplesAndStateAtEveryStep) {
  constexpr size_t kLength = 20000;
  const struct {
    const char* name;
    std::vector<uint8_t> codes;
  } streams[] = {
      {"all largest positive", Repeated({3}, kLength)},
      {"all largest negative", Repeated({4}, kLength)},
      {"all smallest positive", Repeated({0}, kLength)},
      {"all smallest negative", Repeated({7}, kLength)},
      {"alternating largest", Repeated({3, 4}, kLength)},
      {"alternating smallest", Repeated({0, 7}, kLength)},
      {"pairs of largest", Repeated({3, 3, 4, 4}, kLength)},
      {"rising and falling", Repeated({0, 1, 2, 3, 4, 5, 6, 7}, kLength)},
      {"largest, then silence", [] {
         std::vector<uint8_t> c = Repeated({3}, kLength / 2);
         const std::vector<uint8_t> rest = Repeated({7, 0}, kLength / 2);
         c.insert(c.end(), rest.begin(), rest.end());
         return c;
       }()},
  };
  bool wrapped = false;
  for (const auto& stream : streams) {
    Coverage c;
    ASSERT_NO_FATAL_FAILURE(ExpectSameStepByStep(stream.codes, stream.name, &c));
    wrapped |= c.wrapped;
    ASSERT_NO_FATAL_FAILURE(ExpectSameInRuns(stream.codes, stream.name));
  }
  EXPECT_TRUE(wrapped) << "no edge stream drove the signal past the 16-bit limit";
}

TEST(G726Kernels, TonesThatSetTheDetectorAndABurstThatTripsItGiveTheSameSamplesAndState) {
  const std::vector<uint8_t> codes = ToneBurstTone();
  Coverage c;
  ASSERT_NO_FATAL_FAILURE(ExpectSameStepByStep(codes, "tone, burst, tone", &c));
  EXPECT_TRUE(c.toneDetected) << "the tones never set the detector";
  EXPECT_TRUE(c.transition) << "the burst never tripped a transition";
  ASSERT_NO_FATAL_FAILURE(ExpectSameInRuns(codes, "tone, burst, tone"));
}

}  // namespace
}  // namespace zentrova
