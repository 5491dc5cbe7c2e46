#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/BlockReconstruction.h"
#include "video/MacroblockBuffer.h"

namespace zentrova {
namespace {

TEST(MacroblockBuffer, ClampsToTheSampleRange) {
  int16_t mb[kMacroblockEntries] = {};
  mb[0] = -3;
  mb[1] = 300;
  mb[2] = -32768;
  mb[3] = 32767;
  mb[383] = 255;
  ClampMacroblock(mb);
  EXPECT_EQ(mb[0], 0);
  EXPECT_EQ(mb[1], 255);
  EXPECT_EQ(mb[2], 0);
  EXPECT_EQ(mb[3], 255);
  EXPECT_EQ(mb[383], 255);
}

TEST(MacroblockBuffer, PlacesBlocksInTheirQuarterOrChromaArea) {
  int16_t mb[kMacroblockEntries] = {};
  int16_t samples[64];
  for (int b = 0; b < 6; ++b) {
    for (int i = 0; i < 64; ++i) samples[i] = static_cast<int16_t>(b * 100 + i);
    PlaceBlock(b, mb, samples);
  }
  EXPECT_EQ(mb[0], 0);
  EXPECT_EQ(mb[8], 100);             // block 1, row 0, column 0
  EXPECT_EQ(mb[8 * 16], 200);        // block 2 starts on row 8
  EXPECT_EQ(mb[15 * 16 + 15], 363);  // block 3, row 7, column 7
  EXPECT_EQ(mb[1 * 16 + 2], 10);     // block 0, row 1, column 2
  EXPECT_EQ(mb[kCbOffset + 9], 409);
  EXPECT_EQ(mb[kCrOffset + 63], 563);
}

TEST(MacroblockBuffer, StoreAndLoadMirrorEachOtherAtTheirPosition) {
  const int width = 48;  // 3 x 2 macroblocks
  std::vector<uint8_t> y(width * 32, 7), cb(width * 8, 7), cr(width * 8, 7);
  const Planes planes{y.data(), cb.data(), cr.data(), width};
  int16_t mb[kMacroblockEntries];
  for (int i = 0; i < kMacroblockEntries; ++i) mb[i] = static_cast<int16_t>(i & 0xFF);
  StoreMacroblock(2, 1, mb, planes);
  EXPECT_EQ(y[16 * width + 32], 0);
  EXPECT_EQ(y[31 * width + 47], 255);
  EXPECT_EQ(y[15 * width + 32], 7);  // the row above is not touched
  EXPECT_EQ(cb[8 * 24 + 16], 0);     // chroma row 8, column 16
  EXPECT_EQ(cr[15 * 24 + 23], 383 & 0xFF);
  int16_t back[kMacroblockEntries];
  LoadMacroblock(2, 1, back, planes);
  for (int i = 0; i < kMacroblockEntries; ++i) EXPECT_EQ(back[i], mb[i]) << i;
}

TEST(MacroblockBuffer, ResidualAdditionWrapsInSixteenBits) {
  int16_t prediction[kMacroblockEntries] = {};
  int16_t residual[kMacroblockEntries] = {};
  prediction[0] = 250;
  residual[0] = 20;
  prediction[1] = 10;
  residual[1] = -20;
  prediction[2] = 255;
  residual[2] = 32767;
  AddResidual(prediction, residual);
  EXPECT_EQ(prediction[0], 270);
  EXPECT_EQ(prediction[1], -10);
  EXPECT_EQ(prediction[2], -32514);
  ClampMacroblock(prediction);
  EXPECT_EQ(prediction[0], 255);
  EXPECT_EQ(prediction[1], 0);
  EXPECT_EQ(prediction[2], 0);  // the wrapped sum clamps low
}

// Where block b of macroblock (x, y) starts in its plane, and the plane's row stride.
uint8_t* BlockStart(const Planes& p, int x, int y, int b, size_t& stride) {
  const size_t w = static_cast<size_t>(p.width);
  if (b < 4) {
    stride = w;
    return p.y + (16 * y + 8 * (b / 2)) * w + 16 * x + 8 * (b % 2);
  }
  stride = w / 2;
  return (b == 4 ? p.cb : p.cr) + 8 * y * stride + 8 * x;
}

// Samples drawn mostly near the sample range, some at the 16-bit extremes.
int16_t Draw(std::mt19937& random) {
  switch (random() % 8) {
    case 0:
      return static_cast<int16_t>(random());
    case 1:
      return (random() % 2) ? int16_t{32767} : int16_t{-32768};
    default:
      return static_cast<int16_t>(static_cast<int>(random() % 700) - 220);
  }
}

TEST(MacroblockBuffer, BlockWritesEqualTheMacroblockStepsOnRandomBlocks) {
  std::mt19937 random(7);
  const int width = 64;  // 4 x 2 macroblocks
  for (int round = 0; round < 500; ++round) {
    std::vector<uint8_t> y(width * 32), cb(width * 8), cr(width * 8);
    for (auto* plane : {&y, &cb, &cr})
      for (uint8_t& s : *plane) s = static_cast<uint8_t>(random());
    std::vector<uint8_t> y2 = y, cb2 = cb, cr2 = cr;
    const Planes steps{y.data(), cb.data(), cr.data(), width};
    const Planes fused{y2.data(), cb2.data(), cr2.data(), width};
    const int x = static_cast<int>(random() % 4), row = static_cast<int>(random() % 2);
    const bool inter = round % 2 == 1;

    int16_t blocks[6][64];
    int16_t macroblock[kMacroblockEntries];
    for (int b = 0; b < 6; ++b) {
      for (int16_t& s : blocks[b]) s = Draw(random);
      PlaceBlock(b, macroblock, blocks[b]);
    }
    if (inter) {
      int16_t prediction[kMacroblockEntries];
      LoadMacroblock(x, row, prediction, steps);
      AddResidual(prediction, macroblock);
      std::copy(prediction, prediction + kMacroblockEntries, macroblock);
    }
    ClampMacroblock(macroblock);
    StoreMacroblock(x, row, macroblock, steps);

    for (int b = 0; b < 6; ++b) {
      size_t stride = 0;
      uint8_t* start = BlockStart(fused, x, row, b, stride);
      if (inter)
        AddBlockReference(blocks[b], start, stride);
      else
        StoreBlockReference(blocks[b], start, stride);
    }
    ASSERT_EQ(y, y2) << round;
    ASSERT_EQ(cb, cb2) << round;
    ASSERT_EQ(cr, cr2) << round;
  }
}

TEST(MacroblockBuffer, FlatBlocksAreClampedOnce) {
  std::vector<uint8_t> plane(16 * 8, 9);
  StoreFlatBlock(-5, plane.data(), 16);
  StoreFlatBlock(300, plane.data() + 8, 16);
  EXPECT_EQ(plane[7 * 16 + 7], 0);
  EXPECT_EQ(plane[7 * 16 + 15], 255);
}

}  // namespace
}  // namespace zentrova
