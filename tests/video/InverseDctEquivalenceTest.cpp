// Equivalence harness: every implementation of the vector inverse DCT against the scalar
// emulation of its lane arithmetic, bit for bit, on random blocks weighted towards the values that
// saturate and wrap; and the plain variant against the vector one on ordinary blocks.
//
// ZENTROVA_IDCT_BLOCKS=<count> raises the number of random blocks (the default keeps the run to
// a few seconds); ZENTROVA_IDCT_SEED=<n> changes the seed.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "IdctBlocks.h"
#include "video/InverseDct.h"

namespace zentrova {
namespace {

using testing::Block;
using testing::BlockSource;

long EnvOr(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::strtol(text, nullptr, 10);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr long kDefaultBlocks = 1L << 16;
#else
constexpr long kDefaultBlocks = 1L << 20;
#endif

long BlockCount() { return EnvOr("ZENTROVA_IDCT_BLOCKS", kDefaultBlocks); }
uint32_t Seed() { return static_cast<uint32_t>(EnvOr("ZENTROVA_IDCT_SEED", 20260101)); }

std::string Describe(const Block& b) {
  std::string s;
  for (int i = 0; i < 64; ++i) s += std::to_string(b[i]) + (i % 8 == 7 ? "\n" : " ");
  return s;
}

Block Transformed(void (*t)(const int16_t*, int16_t*), const Block& in) {
  Block out;
  t(in.data(), out.data());
  return out;
}

#if defined(__SSE2__)
TEST(VectorIdctEquivalence, Sse2MatchesTheScalarEmulationOnEveryDraw) {
  BlockSource source(Seed());
  const long count = BlockCount();
  for (long i = 0; i < count; ++i) {
    const Block in = source.Any();
    const Block expected = Transformed(InverseDctVectorScalar, in);
    const Block actual = Transformed(InverseDctVectorSse2, in);
    ASSERT_EQ(actual, expected) << "block " << i << ":\n" << Describe(in);
  }
}

TEST(VectorIdctEquivalence, Sse2MatchesOnConstantBlocksOfEveryExtreme) {
  for (int16_t value : {int16_t{-32768}, int16_t{-32767}, int16_t{-2048}, int16_t{2047}, int16_t{2048},
                        int16_t{32767}}) {
    Block in;
    in.fill(value);
    ASSERT_EQ(Transformed(InverseDctVectorSse2, in), Transformed(InverseDctVectorScalar, in)) << "value " << value;
    for (int k = 0; k < 64; ++k) {
      Block alternating{};
      for (int i = 0; i < 64; ++i) alternating[i] = static_cast<int16_t>(i % 2 == k % 2 ? value : -value - 1);
      ASSERT_EQ(Transformed(InverseDctVectorSse2, alternating), Transformed(InverseDctVectorScalar, alternating));
      const Block single = testing::SingleCoefficient(k, value);
      ASSERT_EQ(Transformed(InverseDctVectorSse2, single), Transformed(InverseDctVectorScalar, single))
          << "value " << value << " at " << k;
    }
  }
}
#endif

TEST(VectorIdctEquivalence, PlainAndVectorDifferByAtMostOneOnOrdinaryBlocks) {
  BlockSource source(Seed() + 1);
  const long count = BlockCount() / 8;
  long compared = 0, identical = 0;
  for (long i = 0; i < count; ++i) {
    const Block in = source.Ordinary();
    const Block plain = Transformed(InverseDct, in);
    bool inRange = true;
    for (int16_t v : plain) inRange = inRange && v >= -255 && v <= 255;
    if (!inRange) continue;
    const Block vector = Transformed(InverseDctVectorScalar, in);
    for (int p = 0; p < 64; ++p)
      ASSERT_LE(std::abs(plain[p] - vector[p]), 1) << "block " << i << " position " << p << ":\n" << Describe(in);
    ++compared;
    identical += plain == vector ? 1 : 0;
  }
  EXPECT_GT(compared, count / 2);
  RecordProperty("identical_share_percent", std::to_string(100 * identical / (compared ? compared : 1)));
}

}  // namespace
}  // namespace zentrova
