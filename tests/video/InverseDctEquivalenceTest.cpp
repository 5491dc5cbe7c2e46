// Equivalence harness: every SIMD implementation of either inverse DCT against its portable
// reference, bit for bit, on random blocks weighted towards the values that saturate and wrap;
// and the plain variant against the vector one on ordinary blocks.
//
// ZENTROVA_IDCT_BLOCKS=<count> raises the number of random blocks (the default keeps the run to
// a few seconds); ZENTROVA_IDCT_SEED=<n> changes the seed.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IdctBlocks.h"
#include "video/ColumnOrder.h"
#include "video/InverseDct.h"
#include "video/ProcessorFeatures.h"

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

TEST(PlainIdctEquivalence, Avx2MatchesThePortableFlowOnEveryDraw) {
  if (!ProcessorHasAvx2()) GTEST_SKIP() << "the processor has no AVX2";
  BlockSource source(Seed() + 2);
  const long count = BlockCount();
  for (long i = 0; i < count; ++i) {
    const Block in = source.Any();
    ASSERT_EQ(Transformed(InverseDctAvx2, in), Transformed(InverseDctPortable, in)) << "block " << i << ":\n"
                                                                                     << Describe(in);
  }
}
#endif

// The block in transmission order placed in natural order column by column.
Block InColumns(const Block& scan) {
  Block columns{};
  for (int i = 0; i < 64; ++i) columns[kScanToColumnOrder[i]] = scan[i];
  return columns;
}

// Every column-layout entry point against the transmission-order reference of its variant.
TEST(ColumnLayoutEquivalence, EveryEntryPointMatchesItsReferenceOnEveryDraw) {
  struct Pair {
    const char* name;
    void (*columns)(const int16_t*, int16_t*);
    void (*reference)(const int16_t*, int16_t*);
  };
  std::vector<Pair> pairs = {{"plain", InverseDctColumns, InverseDctPortable},
                             {"plainPortable", InverseDctPortableColumns, InverseDctPortable},
                             {"vector", InverseDctVectorColumns, InverseDctVectorScalar}};
#if defined(__SSE2__)
  pairs.push_back({"vectorSse2", InverseDctVectorSse2Columns, InverseDctVectorScalar});
  if (ProcessorHasAvx2()) pairs.push_back({"plainAvx2", InverseDctAvx2Columns, InverseDctPortable});
#endif
  BlockSource source(Seed() + 3);
  const long count = BlockCount() / 4;
  for (long i = 0; i < count; ++i) {
    const Block in = source.Any();
    const Block columns = InColumns(in);
    for (const Pair& pair : pairs)
      ASSERT_EQ(Transformed(pair.columns, columns), Transformed(pair.reference, in))
          << pair.name << " block " << i << ":\n" << Describe(in);
  }
}

// The two-block entry points against the reference on each block of a random pair; the pair
// often mixes kinds (a saturating block beside an ordinary one) so that the halves are told apart.
TEST(ColumnLayoutEquivalence, PairEntryPointsMatchTheReferenceOnEachBlock) {
  using PairTransform = void (*)(const int16_t*, const int16_t*, int16_t*, int16_t*);
  struct Pair {
    const char* name;
    PairTransform pair;
    void (*reference)(const int16_t*, int16_t*);
  };
  std::vector<Pair> pairs = {{"plain", InverseDctPairColumns, InverseDctPortable},
                             {"vector", InverseDctVectorPairColumns, InverseDctVectorScalar}};
#if defined(__SSE2__)
  if (ProcessorHasAvx2()) pairs.push_back({"vectorAvx2", InverseDctVectorAvx2PairColumns, InverseDctVectorScalar});
#endif
  BlockSource source(Seed() + 4);
  const long count = BlockCount() / 4;
  for (long i = 0; i < count; ++i) {
    const Block first = source.Any();
    const Block second = i % 2 == 0 ? source.Any() : source.Ordinary();
    const Block firstColumns = InColumns(first);
    const Block secondColumns = InColumns(second);
    for (const Pair& pair : pairs) {
      Block firstOut, secondOut;
      pair.pair(firstColumns.data(), secondColumns.data(), firstOut.data(), secondOut.data());
      ASSERT_EQ(firstOut, Transformed(pair.reference, first)) << pair.name << " first of pair " << i << ":\n"
                                                               << Describe(first);
      ASSERT_EQ(secondOut, Transformed(pair.reference, second)) << pair.name << " second of pair " << i << ":\n"
                                                                << Describe(second);
    }
  }
}

TEST(ColumnLayoutEquivalence, TheLayoutIsNaturalOrderColumnByColumn) {
  for (int p = 0; p < 64; ++p) {
    const int row = p / 8, column = p % 8;
    EXPECT_EQ(kScanToColumnOrder[ZigzagTable[p]], 8 * column + row) << "natural position " << p;
  }
}

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
