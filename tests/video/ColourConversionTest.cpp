// Colour conversion: the known colour vectors, the chroma sharing of 2x2 squares, the tables'
// defining values, and the fast conversion against the per-pixel reference.
#include "video/ColourConversion.h"

#include <array>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "video/ColourConversionTables.h"

namespace zentrova {
namespace {

struct Bgr {
  int blue, green, red;
  bool operator==(const Bgr&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Bgr& c) {
  return os << "(" << c.blue << ", " << c.green << ", " << c.red << ")";
}

using Convert = void (*)(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int32_t, int32_t);

struct Implementation {
  const char* name;
  Convert convert;
};

// The conversion as the program calls it, checked against the per-pixel reference; every kernel
// of every level is held to the reference by KernelEquivalenceTest.
const std::vector<Implementation> kFast = {{"dispatched", ConvertToRgb24}};

// One flat 2x2 picture of the given colour.
Bgr ConvertFlat(Convert convert, uint8_t y, uint8_t cb, uint8_t cr) {
  const uint8_t luma[4] = {y, y, y, y};
  uint8_t picture[12];
  convert(picture, luma, &cb, &cr, 2, 2);
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(std::equal(picture, picture + 3, picture + 3 * i));
  return {picture[0], picture[1], picture[2]};
}

TEST(ConvertToRgb24, KnownColourVectors) {
  struct Case {
    uint8_t y, cb, cr;
    Bgr expected;
  };
  const Case cases[] = {
      {128, 128, 128, {129, 127, 129}}, {127, 127, 127, {126, 128, 126}},  // the 127.5 centre
      {0, 0, 0, {0, 135, 0}},           {255, 255, 255, {255, 120, 255}},
      {76, 85, 255, {1, 0, 255}},       {150, 44, 21, {2, 255, 1}},
      {29, 255, 107, {255, 0, 0}},      {16, 128, 128, {17, 15, 17}},  // no studio-range expansion
      {235, 128, 128, {236, 234, 236}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertFlat(ConvertToRgb24Reference, c.y, c.cb, c.cr), c.expected)
        << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
    for (const Implementation& fast : kFast) {
      EXPECT_EQ(ConvertFlat(fast.convert, c.y, c.cb, c.cr), c.expected)
          << fast.name << ": " << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
    }
  }
}

TEST(ConvertToRgb24, TablesHoldTheirDefiningValues) {
  for (int i = 0; i < 256; ++i) {
    // Exact rational forms: 1.772 (i - 127.5) + 0.5 = (1772 (2i - 255) + 1000) / 2000.
    const double blue = (1772.0 * (2 * i - 255) + 1000.0) / 2000.0;
    EXPECT_LE(CbBlueTable[i], blue);
    EXPECT_GT(CbBlueTable[i] + 1, blue);
    const double red = (1402.0 * (2 * i - 255) + 1000.0) / 2000.0;
    EXPECT_LE(CrRedTable[i], red);
    EXPECT_GT(CrRedTable[i] + 1, red);
    EXPECT_EQ(2 * CbGreenTable[i], 2 * 32768 - 22554 * (2 * i - 255));
    EXPECT_EQ(2 * CrGreenTable[i], -46802 * (2 * i - 255));
  }
  EXPECT_EQ(CbBlueTable[127], -1);
  EXPECT_EQ(CrRedTable[128], 1);
}

TEST(ConvertToRgb24, EachChromaPairServesATwoByTwoSquare) {
  // 4x4 picture, chroma 2x2 with distinct values; luma flat so only chroma varies.
  const int w = 4, h = 4;
  std::vector<uint8_t> y(w * h, 100);
  const uint8_t cb[4] = {0, 85, 170, 255};
  const uint8_t cr[4] = {255, 170, 85, 0};
  std::vector<uint8_t> picture(3 * w * h);
  ConvertToRgb24(picture.data(), y.data(), cb, cr, w, h);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      const int c = (i / 2) * 2 + j / 2;
      const Bgr expected = ConvertFlat(ConvertToRgb24Reference, 100, cb[c], cr[c]);
      const uint8_t* px = &picture[3 * (i * w + j)];
      EXPECT_EQ((Bgr{px[0], px[1], px[2]}), expected) << "row " << i << " column " << j;
    }
  }
}

TEST(ConvertToRgb24, FastConversionEqualsTheReference) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> byte(0, 255);
  const std::pair<int, int> sizes[] = {{2, 2},     {16, 16},   {18, 2}, {176, 144}, {352, 288},
                                       {704, 288}, {640, 480}, {62, 6}, {34, 4}, {64, 2}, {96, 4}, {50, 2}};
  for (const auto& [w, h] : sizes) {
    std::vector<uint8_t> y(w * h), cb(w * h / 4), cr(w * h / 4);
    for (auto* plane : {&y, &cb, &cr})
      for (auto& v : *plane) v = static_cast<uint8_t>(byte(rng));
    std::vector<uint8_t> reference(3 * w * h + 16, 0xEE);
    ConvertToRgb24Reference(reference.data(), y.data(), cb.data(), cr.data(), w, h);
    for (const Implementation& implementation : kFast) {
      std::vector<uint8_t> fast(3 * w * h + 16, 0xEE);
      implementation.convert(fast.data(), y.data(), cb.data(), cr.data(), w, h);
      EXPECT_EQ(fast, reference) << implementation.name << " " << w << "x" << h;
    }
  }
}

TEST(ConvertToRgb24, EveryColourTripleMatchesTheReference) {
  // One picture per Cb value: chroma column j carries Cr = j, and the 64 chroma rows give each
  // chroma pair 64 squares of 4 distinct luma values, so all 2^24 triples are converted.
  const int w = 512, h = 128;
  std::vector<uint8_t> y(w * h), cb(w * h / 4), cr(w * h / 4);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) y[i * w + j] = static_cast<uint8_t>((i / 2) * 4 + (i % 2) * 2 + j % 2);
  for (int k = 0; k < w * h / 4; ++k) cr[k] = static_cast<uint8_t>(k % (w / 2));
  std::vector<uint8_t> fast(3 * w * h), reference(3 * w * h);
  for (int cbValue = 0; cbValue < 256; ++cbValue) {
    std::fill(cb.begin(), cb.end(), static_cast<uint8_t>(cbValue));
    ConvertToRgb24Reference(reference.data(), y.data(), cb.data(), cr.data(), w, h);
    for (const Implementation& implementation : kFast) {
      implementation.convert(fast.data(), y.data(), cb.data(), cr.data(), w, h);
      ASSERT_EQ(fast, reference) << implementation.name << " Cb " << cbValue;
    }
  }
}

}  // namespace
}  // namespace zentrova
