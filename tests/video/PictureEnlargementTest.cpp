// Picture enlargement: size and mode choice, the widening and doubling rows, the edge rules.
#include "video/PictureEnlargement.h"

#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace zentrova {
namespace {

constexpr size_t kLumaCapacity = 307200;
constexpr size_t kChromaCapacity = 76800;

// Decoder-sized plane sets, so that an enlargement that overruns shows under the sanitizer
// only if it leaves the decoder's own capacities.
struct PlaneSet {
  std::vector<uint8_t> y = std::vector<uint8_t>(kLumaCapacity, 0);
  std::vector<uint8_t> cb = std::vector<uint8_t>(kChromaCapacity, 0);
  std::vector<uint8_t> cr = std::vector<uint8_t>(kChromaCapacity, 0);
};

struct Result {
  int32_t width;
  int32_t height;
  PlaneSet planes;
};

Result Enlarge(const PlaneSet& src, int32_t width, int32_t height, int mode) {
  Result r{width, height, {}};
  EnlargePicture(r.planes.y.data(), r.planes.cb.data(), r.planes.cr.data(), src.y.data(), src.cb.data(),
                 src.cr.data(), r.width, r.height, mode);
  return r;
}

PlaneSet RandomPlanes(uint32_t seed) {
  PlaneSet p;
  std::mt19937 rng(seed);
  for (auto* plane : {&p.y, &p.cb, &p.cr})
    for (auto& v : *plane) v = static_cast<uint8_t>(rng());
  return p;
}

TEST(EnlargePicture, DeliveredSizesByCodedSizeAndMode) {
  const PlaneSet src = RandomPlanes(1);
  struct Case {
    int32_t w, h, mode, W, H;
  };
  const Case cases[] = {
      {320, 240, 0, 640, 240}, {352, 288, 0, 704, 288}, {160, 128, 0, 320, 240}, {176, 144, 0, 352, 288},
      {320, 240, 1, 320, 240}, {352, 288, 1, 352, 288}, {160, 128, 1, 320, 240}, {176, 144, 1, 352, 288},
      {640, 480, 0, 640, 480}, {640, 240, 0, 640, 240}, {48, 32, 1, 48, 32},
  };
  for (const Case& c : cases) {
    const Result r = Enlarge(src, c.w, c.h, c.mode);
    EXPECT_EQ(r.width, c.W) << c.w << "x" << c.h << " mode " << c.mode;
    EXPECT_EQ(r.height, c.H) << c.w << "x" << c.h << " mode " << c.mode;
  }
}

TEST(EnlargePicture, UnknownSizesAndModeOneWideningSizesAreCopied) {
  const PlaneSet src = RandomPlanes(2);
  for (auto [w, h, mode] : {std::tuple{640, 480, 0}, std::tuple{320, 240, 1}, std::tuple{352, 288, 7}}) {
    const Result r = Enlarge(src, w, h, mode);
    const size_t luma = static_cast<size_t>(w) * h;
    EXPECT_TRUE(std::equal(src.y.begin(), src.y.begin() + luma, r.planes.y.begin()));
    EXPECT_TRUE(std::equal(src.cb.begin(), src.cb.begin() + luma / 4, r.planes.cb.begin()));
    EXPECT_TRUE(std::equal(src.cr.begin(), src.cr.begin() + luma / 4, r.planes.cr.begin()));
    if (luma < r.planes.y.size()) {
      EXPECT_EQ(r.planes.y[luma], 0) << "nothing past the picture is written";
    }
  }
}

TEST(EnlargePicture, WideningAveragesNeighboursAndRepeatsTheLastSample) {
  PlaneSet src;
  // Luma row 0 begins 10, 20, 30 and ends 40, 50; row 1 is left zero, rows are not mixed.
  src.y[0] = 10, src.y[1] = 20, src.y[2] = 30;
  src.y[318] = 40, src.y[319] = 50;
  src.cb[0] = 7, src.cb[1] = 8;  // (7 + 8) >> 1 rounds down to 7
  const Result r = Enlarge(src, 320, 240, 0);
  const std::vector<uint8_t> begins(r.planes.y.begin(), r.planes.y.begin() + 5);
  EXPECT_EQ(begins, (std::vector<uint8_t>{10, 15, 20, 25, 30}));
  const std::vector<uint8_t> ends(r.planes.y.begin() + 636, r.planes.y.begin() + 640);
  EXPECT_EQ(ends, (std::vector<uint8_t>{40, 45, 50, 50}));
  EXPECT_EQ(r.planes.y[640], 0);
  EXPECT_EQ(r.planes.cb[1], 7);
}

// Every sample of a doubled plane from its definition, for a source of n x rows samples.
void ExpectDoubled(const uint8_t* out, const uint8_t* src, int n, int rows, int belowLast) {
  for (int r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * n;
    const uint8_t* b = src + (r + 1 < rows ? r + 1 : belowLast) * n;
    const uint8_t* e = out + 2 * r * 2 * n;
    const uint8_t* d = e + 2 * n;
    for (int x = 0; x < n; ++x) {
      const bool last = x == n - 1;
      const int q = last ? s[x] : (s[x] + s[x + 1]) / 2;
      const int p = last ? b[x] : (s[x] + b[x]) / 2;
      const int diagonal = last ? b[x] : ((q + p) / 2 + b[x + 1]) / 2;
      ASSERT_EQ(e[2 * x], s[x]) << "row " << r << " x " << x;
      ASSERT_EQ(e[2 * x + 1], q) << "row " << r << " x " << x;
      ASSERT_EQ(d[2 * x], p) << "row " << r << " x " << x;
      ASSERT_EQ(d[2 * x + 1], diagonal) << "row " << r << " x " << x;
    }
  }
}

TEST(EnlargePicture, DoublingFollowsTheRowRuleAndUsesTheLastRowBelowItself) {
  const PlaneSet src = RandomPlanes(3);
  for (int mode : {0, 1}) {
    const Result r = Enlarge(src, 176, 144, mode);
    ExpectDoubled(r.planes.y.data(), src.y.data(), 176, 144, 143);
    ExpectDoubled(r.planes.cb.data(), src.cb.data(), 88, 72, 71);
    ExpectDoubled(r.planes.cr.data(), src.cr.data(), 88, 72, 71);
  }
}

TEST(EnlargePicture, QuarterSizeInModeZeroShowsTheFirst120RowsAndBlendsRow120) {
  const PlaneSet src = RandomPlanes(4);
  const Result r = Enlarge(src, 160, 128, 0);
  ExpectDoubled(r.planes.y.data(), src.y.data(), 160, 120, 120);
  ExpectDoubled(r.planes.cb.data(), src.cb.data(), 80, 60, 60);
  ExpectDoubled(r.planes.cr.data(), src.cr.data(), 80, 60, 60);
  // Output row 239, column 0, lies between source rows 119 and 120.
  EXPECT_EQ(r.planes.y[239 * 320], (src.y[119 * 160] + src.y[120 * 160]) / 2);
  EXPECT_EQ(r.planes.y[240 * 320], 0) << "mode 0 writes 240 rows";
}

TEST(EnlargePicture, QuarterSizeInOtherModesDoublesAll128Rows) {
  const PlaneSet src = RandomPlanes(5);
  const Result r = Enlarge(src, 160, 128, 1);
  ExpectDoubled(r.planes.y.data(), src.y.data(), 160, 128, 127);
  ExpectDoubled(r.planes.cb.data(), src.cb.data(), 80, 64, 63);
  EXPECT_EQ(r.planes.y[256 * 320], 0);
}

TEST(EnlargePicture, SimdRowsMatchThePortableRows) {
  PlaneSet alternating;
  for (auto* plane : {&alternating.y, &alternating.cb, &alternating.cr})
    for (size_t i = 0; i < plane->size(); ++i) (*plane)[i] = (i + i / 7) % 2 ? 255 : 0;
  const PlaneSet sources[] = {RandomPlanes(6), RandomPlanes(7), alternating};
  const std::pair<int32_t, int32_t> sizes[] = {{320, 240}, {352, 288}, {160, 128}, {176, 144}};
  for (const PlaneSet& src : sources) {
    for (const auto& [w, h] : sizes) {
      for (int mode : {0, 1}) {
        const Result fast = Enlarge(src, w, h, mode);
        Result portable{w, h, {}};
        EnlargePictureScalar(portable.planes.y.data(), portable.planes.cb.data(), portable.planes.cr.data(),
                             src.y.data(), src.cb.data(), src.cr.data(), portable.width, portable.height, mode);
        EXPECT_EQ(fast.width, portable.width);
        EXPECT_EQ(fast.height, portable.height);
        EXPECT_EQ(fast.planes.y, portable.planes.y) << w << "x" << h << " mode " << mode;
        EXPECT_EQ(fast.planes.cb, portable.planes.cb) << w << "x" << h << " mode " << mode;
        EXPECT_EQ(fast.planes.cr, portable.planes.cr) << w << "x" << h << " mode " << mode;
      }
    }
  }
}

TEST(EnlargePicture, ConstantPlanesStayConstant) {
  PlaneSet src;
  std::fill(src.y.begin(), src.y.end(), 77);
  std::fill(src.cb.begin(), src.cb.end(), 200);
  std::fill(src.cr.begin(), src.cr.end(), 3);
  for (auto [w, h] : {std::pair{176, 144}, std::pair{160, 128}, std::pair{352, 288}}) {
    const Result r = Enlarge(src, w, h, 0);
    const size_t luma = static_cast<size_t>(r.width) * r.height;
    EXPECT_TRUE(std::all_of(r.planes.y.begin(), r.planes.y.begin() + luma, [](uint8_t v) { return v == 77; }));
    EXPECT_TRUE(std::all_of(r.planes.cb.begin(), r.planes.cb.begin() + luma / 4, [](uint8_t v) { return v == 200; }));
    EXPECT_TRUE(std::all_of(r.planes.cr.begin(), r.planes.cr.begin() + luma / 4, [](uint8_t v) { return v == 3; }));
  }
}

}  // namespace
}  // namespace zentrova
