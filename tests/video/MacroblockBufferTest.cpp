#include "video/MacroblockBuffer.h"

#include <gtest/gtest.h>

#include <vector>

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
  EXPECT_EQ(mb[8], 100);                // block 1, row 0, column 0
  EXPECT_EQ(mb[8 * 16], 200);           // block 2 starts on row 8
  EXPECT_EQ(mb[15 * 16 + 15], 363);     // block 3, row 7, column 7
  EXPECT_EQ(mb[1 * 16 + 2], 10);        // block 0, row 1, column 2
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

}  // namespace
}  // namespace zentrova
