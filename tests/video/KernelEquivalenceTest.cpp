// Every entry of every kernel table, at every instruction-set level this processor has, against
// its portable reference, bit for bit: random inputs weighted towards the values that saturate
// and wrap, and the edges (row lengths around each SIMD width, odd sizes, extreme samples).
//
// ZENTROVA_IDCT_BLOCKS=<count> raises the number of random blocks per transform (the default keeps
// the run to a few seconds); ZENTROVA_IDCT_SEED=<n> changes the seed.
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IdctBlocks.h"
#include "support/CpuLevels.h"
#include "video/BlockReconstruction.h"
#include "video/ColourConversion.h"
#include "video/ColumnOrder.h"
#include "video/InverseDct.h"
#include "video/PictureEnlargementRows.h"
#include "video/PlaneRows.h"
#include "video/VideoDsp.h"

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
constexpr long kDefaultBlocks = 1L << 14;
#else
constexpr long kDefaultBlocks = 1L << 18;
#endif

long BlockCount() { return EnvOr("ZENTROVA_IDCT_BLOCKS", kDefaultBlocks); }
uint32_t Seed() { return static_cast<uint32_t>(EnvOr("ZENTROVA_IDCT_SEED", 20260101)); }

// The tables of every level the processor has, the portable one first.
using Level = testing::LevelTables<VideoDsp>;

const std::vector<Level>& Levels() { return testing::TablesPerLevel<VideoDsp>(InitVideoDsp); }

std::string Describe(const Block& b) {
  std::string s;
  for (int i = 0; i < 64; ++i) s += std::to_string(b[i]) + (i % 8 == 7 ? "\n" : " ");
  return s;
}

Block Transformed(BlockTransform t, const Block& in) {
  Block out;
  out.fill(0x5a5a);
  t(in.data(), out.data());
  return out;
}

// The block in transmission order placed in natural order column by column.
Block InColumns(const Block& scan) {
  Block columns{};
  for (int i = 0; i < 64; ++i) columns[kScanToColumnOrder[i]] = scan[i];
  return columns;
}

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Samples at the ends of the byte range, where clamping and saturation happen.
std::vector<uint8_t> Extreme(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  static constexpr uint8_t kValues[] = {0, 1, 127, 128, 254, 255};
  for (auto& b : v) b = kValues[rng() % 6];
  return v;
}

TEST(KernelLevels, ThePortableLevelIsAlwaysThereAndTheProcessLevelIsOneOfThem) {
  ASSERT_FALSE(Levels().empty());
  EXPECT_STREQ(Levels().front().name, "c");
  const uint32_t process = CpuFlags();
  EXPECT_EQ(process & ~ProcessorCpuFlags(), 0u);
}

TEST(KernelLevels, ALevelNameKeepsThatLevelAndTheOnesBelow) {
  EXPECT_EQ(ParseCpuMask("c"), 0u);
  EXPECT_EQ(ParseCpuMask("sse2"), uint32_t{kCpuFlagSse2});
  EXPECT_EQ(ParseCpuMask("avx2"), uint32_t{kCpuFlagSse2 | kCpuFlagSsse3 | kCpuFlagAvx2});
  EXPECT_EQ(ParseCpuMask("0x3"), uint32_t{kCpuFlagSse2 | kCpuFlagSsse3});
  EXPECT_EQ(ParseCpuMask("6"), uint32_t{kCpuFlagSsse3 | kCpuFlagAvx2});
  EXPECT_EQ(ParseCpuMask("avx512"), std::nullopt);
  EXPECT_EQ(ParseCpuMask(""), std::nullopt);
}

// Every inverse DCT entry of both variants on the same block, in both layouts and in pairs.
void ExpectTransformsMatch(const Block& first, const Block& second, const std::string& what) {
  const Block plain = Transformed(InverseDctPortable, first);
  const Block vector = Transformed(InverseDctVectorScalar, first);
  const Block plainSecond = Transformed(InverseDctPortable, second);
  const Block vectorSecond = Transformed(InverseDctVectorScalar, second);
  const Block columns = InColumns(first);
  const Block secondColumns = InColumns(second);
  for (const Level& level : Levels()) {
    const struct {
      const char* name;
      const InverseDctDsp& dsp;
      const Block& expected;
      const Block& expectedSecond;
    } variants[] = {{"plain", level.dsp.plainIdct, plain, plainSecond},
                    {"vector", level.dsp.vectorIdct, vector, vectorSecond}};
    for (const auto& v : variants) {
      ASSERT_EQ(Transformed(v.dsp.scan, first), v.expected) << level.name << " " << v.name << " scan, " << what
                                                             << ":\n" << Describe(first);
      ASSERT_EQ(Transformed(v.dsp.columns, columns), v.expected) << level.name << " " << v.name << " columns, "
                                                                 << what << ":\n" << Describe(first);
      Block out, secondOut;
      v.dsp.columnPair(columns.data(), secondColumns.data(), out.data(), secondOut.data());
      ASSERT_EQ(out, v.expected) << level.name << " " << v.name << " pair (first), " << what << ":\n"
                                 << Describe(first);
      ASSERT_EQ(secondOut, v.expectedSecond) << level.name << " " << v.name << " pair (second), " << what << ":\n"
                                             << Describe(second);
    }
  }
}

TEST(InverseDctKernels, EveryEntryMatchesItsVariantsReferenceOnRandomBlocks) {
  BlockSource source(Seed());
  const long count = BlockCount();
  for (long i = 0; i < count; ++i) {
    const Block first = source.Any();
    // The pair often mixes kinds (a saturating block beside an ordinary one) so that the halves
    // are told apart.
    const Block second = i % 2 == 0 ? source.Any() : source.Ordinary();
    ASSERT_NO_FATAL_FAILURE(ExpectTransformsMatch(first, second, "block " + std::to_string(i)));
  }
}

TEST(InverseDctKernels, EveryEntryMatchesOnConstantAlternatingAndSingleExtremes) {
  for (int16_t value : {int16_t{-32768}, int16_t{-32767}, int16_t{-2048}, int16_t{2047}, int16_t{2048},
                        int16_t{32767}}) {
    Block constant;
    constant.fill(value);
    ASSERT_NO_FATAL_FAILURE(ExpectTransformsMatch(constant, Block{}, "constant " + std::to_string(value)));
    for (int k = 0; k < 64; ++k) {
      Block alternating{};
      for (int i = 0; i < 64; ++i) alternating[i] = static_cast<int16_t>(i % 2 == k % 2 ? value : -value - 1);
      const Block single = testing::SingleCoefficient(k, value);
      ASSERT_NO_FATAL_FAILURE(ExpectTransformsMatch(alternating, single, "value " + std::to_string(value) +
                                                                             " at " + std::to_string(k)));
    }
  }
}

TEST(InverseDctKernels, EveryEntryMatchesOnEveryBlockOfDcAlone) {
  for (int dc = -32768; dc <= 32767; dc += 7) {
    const Block in = testing::SingleCoefficient(0, static_cast<int16_t>(dc));
    ASSERT_NO_FATAL_FAILURE(ExpectTransformsMatch(in, in, "DC " + std::to_string(dc)));
  }
}

struct PictureSize {
  int32_t width, height;
};
// The decoder's sizes, widths around each SIMD step (16 and 32 pixels), and sizes that are not
// even, which go to the per-pixel rule.
constexpr PictureSize kPictureSizes[] = {{704, 576}, {352, 288}, {176, 144}, {2, 2},  {14, 2},  {16, 4},
                                         {18, 2},    {30, 6},    {32, 2},    {34, 6}, {46, 2},  {62, 10},
                                         {64, 4},    {66, 2},    {3, 5},     {5, 1},  {0, 4}};

TEST(ColourConversionKernels, EveryEntryMatchesThePerPixelRule) {
  uint32_t seed = 1;
  for (const PictureSize s : kPictureSizes) {
    const size_t luma = static_cast<size_t>(s.width) * s.height;
    for (auto planes : {Random, Extreme}) {
      const std::vector<uint8_t> y = planes(luma, seed), cb = planes(luma, seed + 1), cr = planes(luma, seed + 2);
      seed += 3;
      std::vector<uint8_t> picture(3 * luma);
      ConvertToRgb24Reference(picture.data(), y.data(), cb.data(), cr.data(), s.width, s.height);
      // Line-doubled: the picture's rows, and between them their rounded-down average.
      const size_t row = 3 * static_cast<size_t>(s.width);
      std::vector<uint8_t> doubled(2 * picture.size());
      for (int32_t r = 0; r < s.height; ++r) {
        const uint8_t* src = picture.data() + r * row;
        std::copy(src, src + row, doubled.begin() + 2 * r * row);
        AverageRowsReference(doubled.data() + (2 * r + 1) * row, src, r + 1 < s.height ? src + row : src, row);
      }
      for (const Level& level : Levels()) {
        std::vector<uint8_t> out(picture.size() + 64, 0xA5);
        level.dsp.colour.picture(out.data(), y.data(), cb.data(), cr.data(), s.width, s.height);
        ASSERT_TRUE(std::equal(picture.begin(), picture.end(), out.begin()))
            << level.name << " picture " << s.width << "x" << s.height;
        ASSERT_TRUE(std::all_of(out.begin() + picture.size(), out.end(), [](uint8_t b) { return b == 0xA5; }))
            << level.name << " wrote past the picture " << s.width << "x" << s.height;
        // Streamed: from a start on 32 bytes (whole blocks streamed where the rows allow) and
        // from one off it (stored as usual).
        for (const size_t start : {size_t{0}, size_t{8}}) {
          std::vector<uint8_t> room(picture.size() + 128, 0xA5);
          uint8_t* at = room.data() + ((32 - reinterpret_cast<uintptr_t>(room.data()) % 32) % 32) + start;
          level.dsp.colour.streamed(at, y.data(), cb.data(), cr.data(), s.width, s.height);
          ASSERT_TRUE(std::equal(picture.begin(), picture.end(), at))
              << level.name << " streamed picture " << s.width << "x" << s.height << " from " << start;
          ASSERT_TRUE(std::all_of(room.data(), at, [](uint8_t b) { return b == 0xA5; }) &&
                      std::all_of(at + picture.size(), room.data() + room.size(), [](uint8_t b) { return b == 0xA5; }))
              << level.name << " streamed outside the picture " << s.width << "x" << s.height;
        }
        std::vector<uint8_t> frame(doubled.size() + 64, 0xA5);
        level.dsp.colour.doubled(frame.data(), y.data(), cb.data(), cr.data(), s.width, s.height);
        ASSERT_TRUE(std::equal(doubled.begin(), doubled.end(), frame.begin()))
            << level.name << " doubled " << s.width << "x" << s.height;
        ASSERT_TRUE(std::all_of(frame.begin() + doubled.size(), frame.end(), [](uint8_t b) { return b == 0xA5; }))
            << level.name << " wrote past the frame " << s.width << "x" << s.height;
      }
    }
  }
}

TEST(EnlargementKernels, EveryRowKernelMatchesThePortableOneFromEveryStart) {
  const EnlargementRows& portable = kPortableEnlargementRows;
  for (int32_t n = 1; n <= 80; ++n) {
    for (auto samples : {Random, Extreme}) {
      const std::vector<uint8_t> s = samples(n, 100 + n), b = samples(n, 200 + n);
      for (int32_t from : {0, 1, n / 2, n - 1}) {
        if (from >= n) continue;
        std::vector<uint8_t> wide(2 * n + 32, 0xA5), e(2 * n + 32, 0xA5), d(2 * n + 32, 0xA5);
        portable.widen(wide.data(), s.data(), n, from);
        portable.doubleRow(e.data(), d.data(), s.data(), b.data(), n, from);
        for (const Level& level : Levels()) {
          std::vector<uint8_t> wideOut(wide.size(), 0xA5), eOut(e.size(), 0xA5), dOut(d.size(), 0xA5);
          level.dsp.enlargement.widen(wideOut.data(), s.data(), n, from);
          level.dsp.enlargement.doubleRow(eOut.data(), dOut.data(), s.data(), b.data(), n, from);
          ASSERT_EQ(wideOut, wide) << level.name << " widen n " << n << " from " << from;
          ASSERT_EQ(eOut, e) << level.name << " even row n " << n << " from " << from;
          ASSERT_EQ(dOut, d) << level.name << " odd row n " << n << " from " << from;
        }
      }
    }
  }
}

TEST(PlaneRowKernels, AveragingMatchesTheReferenceAtEveryLength) {
  const std::vector<uint8_t> a = Random(4096 + 70, 31), b = Random(a.size(), 32);
  for (size_t n = 0; n < a.size(); n = n < 70 ? n + 1 : n * 2 + 3) {
    std::vector<uint8_t> expected(n + 16, 0xA5);
    AverageRowsReference(expected.data(), a.data(), b.data(), n);
    for (const Level& level : Levels()) {
      std::vector<uint8_t> out(n + 16, 0xA5);
      level.dsp.planeRows.averageRows(out.data(), a.data(), b.data(), n);
      ASSERT_EQ(out, expected) << level.name << " n " << n;
    }
  }
}

TEST(PlaneRowKernels, RowWritingMatchesTheReferenceForEveryDoublingRangeAndWidth) {
  const std::vector<uint8_t> src = Random(800, 41), below = Random(800, 42), extreme = Extreme(800, 43);
  for (const SampleRange range :
       {SampleRange::Full, SampleRange::StudioLuma, SampleRange::StudioChroma, SampleRange::FullChroma}) {
    for (const RowDoubling doubling : {RowDoubling::None, RowDoubling::Average, RowDoubling::ChromaOfAverage}) {
      for (int32_t width = 1; width <= 100; width = width < 70 ? width + 1 : width + 15) {
        for (int32_t row : {0, 1}) {
          for (const uint8_t* b : {static_cast<const uint8_t*>(nullptr), below.data(), extreme.data()}) {
            if (doubling == RowDoubling::None && b != nullptr) continue;
            std::vector<uint8_t> expected(width + 32, 0xA5);
            WritePlaneRowFrom(expected.data(), src.data(), b, width, doubling, range, row, 0);
            for (const Level& level : Levels()) {
              std::vector<uint8_t> out(width + 32, 0xA5);
              level.dsp.planeRows.writeRow(out.data(), src.data(), b, width, doubling, range, row);
              ASSERT_EQ(out, expected) << level.name << " width " << width << " row " << row << " doubling "
                                       << static_cast<int>(doubling) << " range " << static_cast<int>(range)
                                       << (b ? " with a row below" : "");
            }
          }
        }
      }
    }
  }
}

// A block's values at the ends of what the writes must handle: past the clamp on both sides, at
// its limits, and at the 16-bit extremes where prediction plus residual wraps.
Block EdgeBlock(uint32_t seed) {
  static constexpr int16_t kValues[] = {-32768, -32767, -256, -255, -1, 0, 1, 127, 128, 254, 255, 256, 32767};
  std::mt19937 rng(seed);
  Block b;
  for (auto& v : b) v = kValues[rng() % std::size(kValues)];
  return b;
}

Block RandomBlock(uint32_t seed) {
  std::mt19937 rng(seed);
  Block b;
  for (auto& v : b) v = static_cast<int16_t>(rng() % 2 == 0 ? static_cast<int>(rng() % 768) - 256 : rng());
  return b;
}

TEST(BlockReconstructionKernels, StoreAndAddMatchTheReferenceInsideTheirBlockAtEveryStride) {
  for (uint32_t round = 0; round < 400; ++round) {
    const Block values = round % 2 == 0 ? RandomBlock(round) : EdgeBlock(round);
    for (const size_t stride : {size_t{8}, size_t{9}, size_t{16}, size_t{88}, size_t{176}, size_t{352}}) {
      // Room for the block and a margin on every side, with a prediction that reaches both ends
      // of the byte range.
      const size_t margin = 16;
      const size_t size = 2 * margin + 8 * stride;
      const std::vector<uint8_t> plane = round % 3 == 0 ? Extreme(size, round) : Random(size, round);
      const size_t at = margin + round % 7;
      std::vector<uint8_t> stored = plane, added = plane;
      StoreBlockReference(values.data(), stored.data() + at, stride);
      AddBlockReference(values.data(), added.data() + at, stride);
      for (const Level& level : Levels()) {
        std::vector<uint8_t> out = plane;
        level.dsp.blocks.store(values.data(), out.data() + at, stride);
        ASSERT_EQ(out, stored) << level.name << " store, stride " << stride << ":\n" << Describe(values);
        out = plane;
        level.dsp.blocks.add(values.data(), out.data() + at, stride);
        ASSERT_EQ(out, added) << level.name << " add, stride " << stride << ":\n" << Describe(values);
      }
    }
  }
}

}  // namespace
}  // namespace zentrova
