// The two inverse DCT variants on hand-placed blocks whose results are known.
#include "video/InverseDct.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IdctBlocks.h"
#include "video/ColumnOrder.h"
#include "video/InverseDctVectorLanes.h"

namespace zentrova {
namespace {

using testing::Block;
using testing::SingleCoefficient;

using Transform = void (*)(const int16_t*, int16_t*);

struct Variant {
  const char* name;
  Transform run;
};

// Both variants as the program calls them and as their references; the SIMD kernels are held to
// the references by KernelEquivalenceTest.
const std::vector<Variant> kVariants = {{"plain", InverseDct},
                                        {"plainPortable", InverseDctPortable},
                                        {"vector", InverseDctVector},
                                        {"vectorScalar", InverseDctVectorScalar}};

Block Transformed(Transform t, const Block& in) {
  Block out;
  out.fill(0x5a5a);
  t(in.data(), out.data());
  return out;
}

class EveryVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(EveryVariant, AllZeroBlockGivesZeros) {
  const Block out = Transformed(GetParam().run, Block{});
  for (int16_t v : out) EXPECT_EQ(v, 0);
}

TEST_P(EveryVariant, DcAloneGivesAnEighthEverywhere) {
  const std::pair<int16_t, int16_t> cases[] = {{8, 1}, {80, 10}, {-80, -10}, {1016, 127}, {2047, 256}, {-2048, -256}};
  for (const auto& [dc, sample] : cases) {
    const Block out = Transformed(GetParam().run, SingleCoefficient(0, dc));
    for (int p = 0; p < 64; ++p) ASSERT_EQ(out[p], sample) << "DC " << dc << " at " << p;
  }
}

TEST_P(EveryVariant, FirstTransmittedCoefficientIsHorizontalFrequencyOne) {
  const int16_t row[8] = {17, 15, 10, 4, -4, -10, -15, -17};
  const Block out = Transformed(GetParam().run, SingleCoefficient(1, 100));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(out[8 * y + x], row[x]) << "row " << y << " column " << x;
}

TEST_P(EveryVariant, SecondTransmittedCoefficientIsVerticalFrequencyOne) {
  const int16_t column[8] = {17, 15, 10, 3, -3, -10, -15, -17};
  const Block out = Transformed(GetParam().run, SingleCoefficient(2, 100));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(out[8 * y + x], column[y]) << "row " << y << " column " << x;
}

TEST_P(EveryVariant, LeavesTheCoefficientsUntouched) {
  testing::BlockSource source(7);
  for (int i = 0; i < 5000; ++i) {
    const Block in = source.Any();
    Block copy = in;
    Block out;
    GetParam().run(copy.data(), out.data());
    ASSERT_EQ(copy, in);
  }
}

INSTANTIATE_TEST_SUITE_P(InverseDct, EveryVariant, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InverseDct, LimitsAtHorizontalFrequenciesThreeAndFiveAgreeBetweenVariants) {
  // Natural positions 3 and 5 of row 0.
  for (int natural : {3, 5}) {
    for (int16_t value : {int16_t{-2048}, int16_t{2047}}) {
      const Block in = SingleCoefficient(ZigzagTable[natural], value);
      EXPECT_EQ(Transformed(InverseDct, in), Transformed(InverseDctVector, in)) << "frequency " << natural << " value " << value;
      EXPECT_EQ(Transformed(InverseDct, in), Transformed(InverseDctVectorScalar, in));
    }
  }
}

TEST(InverseDct, FrequenciesThreeAndFiveTogetherCanSaturateTheVectorVariantWithSmallSamples) {
  // Pass 1 scales x3 and x5 by 16, so a same-sign pair whose sum passes 2047 saturates
  // sat(x3 + x5) although every coefficient is in range and the plain samples stay within
  // -255..255: the "at most 1 apart" agreement holds for ordinary blocks, not for every such block.
  Block in{};
  in[ZigzagTable[8 * 4 + 3]] = -1125;
  in[ZigzagTable[8 * 4 + 5]] = -949;
  in[ZigzagTable[8 * 4 + 7]] = 292;
  const Block plain = Transformed(InverseDct, in);
  const Block vector = Transformed(InverseDctVector, in);
  EXPECT_EQ(plain[0], -249);
  EXPECT_EQ(vector[0], -245);
  for (int p = 0; p < 64; ++p) EXPECT_LE(std::abs(plain[p]), 255);
}

TEST(InverseDct, ADcBeyondTheCoefficientRangePartsTheVariants) {
  // The plain variant's 32-bit sums hold 32767 / 8 exactly; the vector variant's first input
  // shift (x 4) wraps the 16-bit lane.
  const Block in = SingleCoefficient(0, 32767);
  const Block plain = Transformed(InverseDct, in);
  for (int16_t v : plain) ASSERT_EQ(v, 4096);
  EXPECT_NE(Transformed(InverseDctVector, in), plain);
}

TEST(InverseDct, EveryDcAloneBlockMatchesTheFullFlowGraph) {
  // The plain variant's step applied to rows then columns, and the lane emulation, against each
  // variant's answer for all 65536 DC values (both variants take a short way for such blocks).
  for (int dc = -32768; dc <= 32767; ++dc) {
    const Block in = SingleCoefficient(0, static_cast<int16_t>(dc));
    Block expected = in;
    for (int row = 0; row < 8; ++row) InverseDct1D(expected.data() + 8 * row, 1);
    for (int column = 0; column < 8; ++column) InverseDct1D(expected.data() + column, 8);
    ASSERT_EQ(Transformed(InverseDct, in), expected) << "DC " << dc;
    ASSERT_EQ(Transformed(InverseDctVector, in), Transformed(InverseDctVectorScalar, in)) << "DC " << dc;
  }
}

// The block in transmission order placed in natural order column by column.
Block InColumns(const Block& scan) {
  Block columns{};
  for (int i = 0; i < 64; ++i) columns[kScanToColumnOrder[i]] = scan[i];
  return columns;
}

TEST(ColumnLayout, IsNaturalOrderColumnByColumn) {
  for (int p = 0; p < 64; ++p) {
    const int row = p / 8, column = p % 8;
    EXPECT_EQ(kScanToColumnOrder[ZigzagTable[p]], 8 * column + row) << "natural position " << p;
  }
}

TEST(ColumnLayout, EveryEntryPointGivesTheSamplesOfTheTransmissionOrder) {
  testing::BlockSource source(20260104);
  for (int i = 0; i < 4096; ++i) {
    const Block in = source.Any();
    const Block columns = InColumns(in);
    ASSERT_EQ(Transformed(InverseDctColumns, columns), Transformed(InverseDct, in)) << "block " << i;
    ASSERT_EQ(Transformed(InverseDctPortableColumns, columns), Transformed(InverseDctPortable, in)) << "block " << i;
    ASSERT_EQ(Transformed(InverseDctVectorColumns, columns), Transformed(InverseDctVector, in)) << "block " << i;
    Block first, second;
    InverseDctPairColumns(columns.data(), columns.data(), first.data(), second.data());
    ASSERT_EQ(first, Transformed(InverseDct, in)) << "block " << i;
    ASSERT_EQ(second, first) << "block " << i;
    InverseDctVectorPairColumns(columns.data(), columns.data(), first.data(), second.data());
    ASSERT_EQ(first, Transformed(InverseDctVector, in)) << "block " << i;
    ASSERT_EQ(second, first) << "block " << i;
  }
}

TEST(VectorIdct, PlainAndVectorDifferByAtMostOneOnOrdinaryBlocks) {
  testing::BlockSource source(20260102);
  const long count = 1L << 17;
  long compared = 0, identical = 0;
  for (long i = 0; i < count; ++i) {
    const Block in = source.Ordinary();
    const Block plain = Transformed(InverseDct, in);
    bool inRange = true;
    for (int16_t v : plain) inRange = inRange && v >= -255 && v <= 255;
    if (!inRange) continue;
    const Block vector = Transformed(InverseDctVectorScalar, in);
    for (int p = 0; p < 64; ++p) ASSERT_LE(std::abs(plain[p] - vector[p]), 1) << "block " << i << " position " << p;
    ++compared;
    identical += plain == vector ? 1 : 0;
  }
  EXPECT_GT(compared, count / 2);
  RecordProperty("identical_share_percent", std::to_string(100 * identical / (compared ? compared : 1)));
}

TEST(ZigzagTable, IsTheJpegScanInInverseDirection) {
  // Walk the anti-diagonals the way the scan does: odd diagonals downwards, even ones upwards.
  int expected[64];
  int index = 0;
  for (int diagonal = 0; diagonal < 15; ++diagonal) {
    for (int i = 0; i < 8; ++i) {
      const int row = diagonal % 2 == 0 ? diagonal - i : i;
      const int column = diagonal - row;
      if (row < 0 || row > 7 || column < 0 || column > 7) continue;
      expected[8 * row + column] = index++;
    }
  }
  for (int p = 0; p < 64; ++p) EXPECT_EQ(ZigzagTable[p], expected[p]) << "natural position " << p;
  for (int p = 0; p < 64; ++p) {
    const int row = p / 8, column = p % 8;
    EXPECT_EQ(vector_idct::kTransposedZigzag[8 * column + row], ZigzagTable[p]) << "natural position " << p;
  }
}

TEST(InverseDct1D, ConstantInputOfDcAloneIsScaledByOneOverTwoRootTwo) {
  int16_t values[8] = {800, 0, 0, 0, 0, 0, 0, 0};
  InverseDct1D(values, 1);
  // 800 / (2 * sqrt(2)) = 282.8
  for (int16_t v : values) EXPECT_EQ(v, 283);
}

TEST(DetectVectorUnit, FollowsTheVendorAndExtendedTests) {
  ProcessorIdentity intel;
  intel.hasCpuid = true;
  std::memcpy(intel.vendor, "GenuineIntel", 12);
  intel.maxStandardLeaf = 1;
  intel.standardFeatures = 1u << 23;
  EXPECT_TRUE(ChooseVectorUnit(intel));

  ProcessorIdentity intelWithoutFlag = intel;
  intelWithoutFlag.standardFeatures = ~(1u << 23);
  EXPECT_FALSE(ChooseVectorUnit(intelWithoutFlag));

  ProcessorIdentity other = intel;
  std::memcpy(other.vendor, "AuthenticAMD", 12);
  EXPECT_FALSE(ChooseVectorUnit(other)) << "the standard flag counts for the one vendor only";
  other.maxExtendedLeaf = 0x80000001u;
  other.extendedFeatures = 1u << 31;
  EXPECT_TRUE(ChooseVectorUnit(other));
  other.maxExtendedLeaf = 0x80000000u;
  EXPECT_FALSE(ChooseVectorUnit(other)) << "the extended leaf must lie above 0x80000000";

  ProcessorIdentity none = intel;
  none.hasCpuid = false;
  EXPECT_FALSE(ChooseVectorUnit(none));

  EXPECT_EQ(DetectVectorUnit(), ChooseVectorUnit(ReadProcessorIdentity()));
}

}  // namespace
}  // namespace zentrova
