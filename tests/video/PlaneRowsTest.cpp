// Line doubling and range mapping of planes, and the colour conversion that line-doubles on the
// way: the rules on small examples, every fast path against its portable reference.
#include "video/PlaneRows.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "video/ColourConversion.h"

namespace zentrova {
namespace {

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(PlaneRows, AveragesRoundDownForEveryPairOfBytes) {
  std::vector<uint8_t> a(65536 + 7), b(a.size()), fast(a.size()), reference(a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = static_cast<uint8_t>(i);
    b[i] = static_cast<uint8_t>(i >> 8);
  }
  AverageRows(fast.data(), a.data(), b.data(), a.size());
  AverageRowsReference(reference.data(), a.data(), b.data(), a.size());
  EXPECT_EQ(fast, reference);
  const uint8_t x[] = {10, 255, 0, 254}, y[] = {13, 255, 1, 255};
  uint8_t out[4];
  AverageRows(out, x, y, 4);
  EXPECT_EQ(out[0], 11);
  EXPECT_EQ(out[1], 255);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 254);
}

TEST(PlaneRows, StudioRangeIsTheRoundedScaleOfEverySample) {
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(MapSample(static_cast<uint8_t>(v), SampleRange::Full), v);
    EXPECT_EQ(MapSample(static_cast<uint8_t>(v), SampleRange::StudioLuma), std::floor(16 + v * 219.0 / 255 + 0.5));
    EXPECT_EQ(MapSample(static_cast<uint8_t>(v), SampleRange::StudioChroma), std::floor(16 + v * 224.0 / 255 + 0.5));
  }
  EXPECT_EQ(MapSample(0, SampleRange::StudioLuma), 16);
  EXPECT_EQ(MapSample(255, SampleRange::StudioLuma), 235);
  EXPECT_EQ(MapSample(255, SampleRange::StudioChroma), 240);
  // The chroma centre 127.5 lands on 128 from either side.
  EXPECT_EQ(MapSample(127, SampleRange::StudioChroma), 128);
  EXPECT_EQ(MapSample(128, SampleRange::StudioChroma), 128);
}

TEST(PlaneRows, DoubledRowsAverageTheirNeighboursAndTheLastIsCopied) {
  const uint8_t src[] = {10, 20, 13, 40, 200, 100};  // three rows of two
  uint8_t out[12] = {};
  CopyPlaneRows(out, 2, src, 2, 2, 3, RowDoubling::Average, SampleRange::Full);
  const uint8_t expected[] = {10, 20, 11, 30, 13, 40, 106, 70, 200, 100, 200, 100};
  EXPECT_EQ(std::vector<uint8_t>(out, out + 12), std::vector<uint8_t>(expected, expected + 12));
  // Written upwards through a negative stride: the first row handed over ends up last.
  uint8_t flipped[12] = {};
  CopyPlaneRows(flipped + 10, -2, src, 2, 2, 3, RowDoubling::Average, SampleRange::Full);
  for (int r = 0; r < 6; ++r) {
    EXPECT_EQ(flipped[2 * r], expected[2 * (5 - r)]);
    EXPECT_EQ(flipped[2 * r + 1], expected[2 * (5 - r) + 1]);
  }
}

TEST(PlaneRows, ChromaOfTheAveragedRowsWeighsTheUpperRowThreeTimes) {
  const uint8_t src[] = {0, 255, 1, 0, 200, 100};  // three rows of two
  uint8_t out[12] = {};
  CopyPlaneRows(out, 2, src, 2, 2, 3, RowDoubling::ChromaOfAverage, SampleRange::Full);
  // (3 s + b + 2) / 4: (0 + 1 + 2) / 4 = 0, (765 + 0 + 2) / 4 = 191, (3 + 200 + 2) / 4 = 51, ...
  const uint8_t expected[] = {0, 255, 0, 191, 1, 0, 51, 25, 200, 100, 200, 100};
  EXPECT_EQ(std::vector<uint8_t>(out, out + 12), std::vector<uint8_t>(expected, expected + 12));
}

TEST(PlaneRows, FullRangeChromaIsRecentredByACheckerboardOfHalfSteps) {
  const std::vector<uint8_t> flat(64 * 4, 127);
  std::vector<uint8_t> out(flat.size());
  CopyPlaneRows(out.data(), 64, flat.data(), 64, 64, 4, RowDoubling::None, SampleRange::FullChroma);
  int sum = 0;
  for (int r = 0; r < 4; ++r)
    for (int x = 0; x < 64; ++x) {
      EXPECT_EQ(out[r * 64 + x], (x + r) % 2 ? 128 : 127);
      sum += out[r * 64 + x];
    }
  EXPECT_EQ(sum * 2, 255 * 256);  // mean 127.5 in 128-centred terms: the centre itself
  EXPECT_EQ(MapSample(255, SampleRange::FullChroma, 1, 0), 255);
}

TEST(PlaneRows, FastCopyEqualsTheReferenceForEveryRangeAndShape) {
  const std::vector<uint8_t> src = Random(720 * 40, 3);
  for (const SampleRange range :
       {SampleRange::Full, SampleRange::StudioLuma, SampleRange::StudioChroma, SampleRange::FullChroma}) {
    for (const int32_t width : {1, 2, 15, 16, 17, 31, 33, 176, 352, 704}) {
      for (const int32_t rows : {1, 2, 3, 36}) {
        for (const RowDoubling doubled : {RowDoubling::None, RowDoubling::Average, RowDoubling::ChromaOfAverage}) {
          const int32_t outRows = doubled != RowDoubling::None ? 2 * rows : rows;
          const ptrdiff_t stride = width + 5;  // the gaps between rows must stay untouched
          std::vector<uint8_t> fast(stride * outRows, 0xA5), reference(fast.size(), 0xA5);
          CopyPlaneRows(fast.data(), stride, src.data(), width + 3, width, rows, doubled, range);
          CopyPlaneRowsReference(reference.data(), stride, src.data(), width + 3, width, rows, doubled, range);
          ASSERT_EQ(fast, reference) << "width " << width << " rows " << rows << " doubled " << static_cast<int>(doubled)
                                     << " range " << static_cast<int>(range);
        }
      }
    }
  }
}

using Doubled = void (*)(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int32_t, int32_t);

TEST(ConvertToRgb24Doubled, EqualsConversionThenLineDoubling) {
  const std::vector<std::pair<const char*, Doubled>> all = {{"dispatched", ConvertToRgb24Doubled}};
  struct Size {
    int32_t w, h;
  };
  for (const Size s : {Size{704, 288}, Size{640, 240}, Size{2, 2}, Size{34, 6}, Size{62, 10}, Size{3, 5}, Size{5, 1}}) {
    const size_t luma = static_cast<size_t>(s.w) * s.h;
    const std::vector<uint8_t> y = Random(luma, 11), cb = Random(luma, 12), cr = Random(luma, 13);
    std::vector<uint8_t> picture(3 * luma), expected(2 * picture.size());
    ConvertToRgb24Reference(picture.data(), y.data(), cb.data(), cr.data(), s.w, s.h);
    const size_t row = 3 * static_cast<size_t>(s.w);
    for (int32_t r = 0; r < s.h; ++r) {
      const uint8_t* src = picture.data() + r * row;
      std::copy(src, src + row, expected.begin() + 2 * r * row);
      const uint8_t* below = r + 1 < s.h ? src + row : src;
      AverageRowsReference(expected.data() + (2 * r + 1) * row, src, below, row);
    }
    for (const auto& [name, convert] : all) {
      std::vector<uint8_t> frame(expected.size(), 0xA5);
      convert(frame.data(), y.data(), cb.data(), cr.data(), s.w, s.h);
      EXPECT_EQ(frame, expected) << name << " " << s.w << "x" << s.h;
    }
  }
}

}  // namespace
}  // namespace zentrova
