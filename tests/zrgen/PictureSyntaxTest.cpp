// The picture writer: bit order, alignment, start codes and macroblock groups as the decoder
// reads them, and plans it must refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "video/VideoDecoder.h"
#include "zrgen/BitWriter.h"
#include "zrgen/MacroblockCoder.h"
#include "zrgen/PictureSyntax.h"
#include "zrgen/Planes.h"
#include "zrgen/TestPattern.h"

namespace zentrova::zrgen {
namespace {

constexpr uint32_t kOlder = 0x20020114;

std::string BitString(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  std::string s;
  for (size_t i = from; i < from + count; ++i) s += ((bytes[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

PicturePlan IntraPlan(const Planes& source, int quantiser) {
  PicturePlan plan;
  plan.header.width = source.width;
  plan.header.height = source.height;
  plan.header.quantiser = quantiser;
  for (int row = 0; row < source.height / 16; ++row)
    for (int column = 0; column < source.width / 16; ++column)
      plan.macroblocks.push_back(IntraMacroblock(LoadMacroblock(source, column, row), quantiser));
  return plan;
}

struct Decoded {
  DecodeStatus status;
  Planes planes;
};

Decoded Decode(const std::vector<uint8_t>& bytes, int width, int height) {
  VideoDecoder decoder;
  EXPECT_TRUE(decoder.Initialise(kOlder, IdctChoice::Plain));
  std::vector<uint8_t> picture(640 * 480 * 3);
  Decoded d;
  d.status = decoder.DecodeFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), picture.data(), picture.size());
  d.planes = PlanesFromRaw(decoder.planeY(), decoder.planeCb(), decoder.planeCr(), width, height);
  return d;
}

TEST(BitWriter, WritesMostSignificantBitFirstAndAlignsFromTheFrameStart) {
  BitWriter w;
  w.Put(0b101, 3);
  w.Put(0xABCD, 16);
  EXPECT_EQ(w.bitCount(), 19u);
  w.AlignTo16();
  EXPECT_EQ(w.bitCount(), 32u);
  w.AlignTo16();
  EXPECT_EQ(w.bitCount(), 32u);
  const std::vector<uint8_t> bytes = w.Take();
  EXPECT_EQ(BitString(bytes, 0, 32), "10110101011110011010000000000000");
}

TEST(PictureSyntax, IntraHeaderOf352x288AtQuantiser8) {
  PicturePlan plan = IntraPlan(TestPattern(352, 288, 0), 8);
  plan.header.groupCount = 3;
  const std::vector<uint8_t> bytes = WritePicture(plan);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(BitString(bytes, 0, 21), "000000000000000010000");  // the 21-bit value 16
  EXPECT_EQ(BitString(bytes, 21, 31), "00" "0101100000" "0100100000" "00001000" "0");
  EXPECT_EQ(BitString(bytes, 52, 12), "000000000000");  // padding up to bit 64
  EXPECT_EQ(BitString(bytes, 64, 16), "0000000000000011");
  EXPECT_EQ(bytes.size() % 2, 0u);
}

TEST(PictureSyntax, CodedInterHeaderIsAlreadyAligned) {
  PicturePlan plan;
  plan.header.intra = false;
  plan.header.typeCode = 2;
  plan.header.quantiser = 5;
  plan.header.groupCount = 1;
  plan.macroblocks.resize(70);  // all skipped
  const std::vector<uint8_t> bytes = WritePicture(plan);
  EXPECT_EQ(BitString(bytes, 21, 11), "10" "1" "00000101");
  EXPECT_EQ(BitString(bytes, 32, 16), "0000000000000001");
}

TEST(PictureSyntax, StartCodeIsFoundAtEveryOffsetUpTo160) {
  const Planes source = TestPattern(160, 112, 3);
  const Decoded reference = Decode(WritePicture(IntraPlan(source, 6)), 160, 112);
  ASSERT_EQ(reference.status.failed, 0);
  for (int offset = 0; offset <= 160; ++offset) {
    PicturePlan plan = IntraPlan(source, 6);
    plan.header.startOffset = offset;
    plan.header.prefixSeed = static_cast<uint32_t>(offset * 7919);
    const Decoded d = Decode(WritePicture(plan), 160, 112);
    ASSERT_EQ(d.status.failed, 0) << "start code at bit " << offset;
    EXPECT_EQ(d.status.width, 160);
    EXPECT_TRUE(d.planes == reference.planes) << "start code at bit " << offset;
  }
}

TEST(PictureSyntax, EveryGroupCountDecodesToTheSamePicture) {
  const Planes source = TestPattern(160, 112, 9);  // 70 macroblocks
  const Decoded reference = Decode(WritePicture(IntraPlan(source, 4)), 160, 112);
  ASSERT_EQ(reference.status.failed, 0);
  for (int groups : {1, 2, 3, 6, 7, 8, 100, 65535}) {
    for (int offset : {0, 5}) {
      PicturePlan plan = IntraPlan(source, 4);
      plan.header.groupCount = groups;
      plan.header.startOffset = offset;
      const Decoded d = Decode(WritePicture(plan), 160, 112);
      ASSERT_EQ(d.status.failed, 0) << "G = " << groups << ", offset " << offset;
      EXPECT_TRUE(d.planes == reference.planes) << "G = " << groups << ", offset " << offset;
    }
  }
}

TEST(PictureSyntax, RefusesPlansTheSyntaxCannotCarry) {
  const PicturePlan good = IntraPlan(TestPattern(160, 112, 0), 8);
  ASSERT_FALSE(WritePicture(good).empty());
  auto refused = [](const PicturePlan& plan) {
    std::string error;
    const bool empty = WritePicture(plan, &error).empty();
    return empty && !error.empty();
  };
  PicturePlan dc = good;
  dc.macroblocks[3].blocks[2].dcCode = 128;
  EXPECT_TRUE(refused(dc));
  PicturePlan pastEnd = good;
  pastEnd.macroblocks[0].blocks[0].events = {{false, 30, 1, false}, {true, 33, 1, false}};  // lands on 64
  EXPECT_TRUE(refused(pastEnd));
  PicturePlan onEnd = good;
  onEnd.macroblocks[0].blocks[0].events = {{false, 30, 1, false}, {true, 31, 1, false}};  // lands on 63
  EXPECT_FALSE(refused(onEnd));
  PicturePlan bigLevel = good;
  bigLevel.macroblocks[0].blocks[0].events = {{true, 0, 200, false}};
  EXPECT_TRUE(refused(bigLevel));
  PicturePlan noLast = good;
  noLast.macroblocks[0].blocks[0].events = {{false, 0, 1, false}};
  EXPECT_TRUE(refused(noLast));
  PicturePlan type = good;
  type.header.typeCode = 2;
  EXPECT_TRUE(refused(type));
  PicturePlan offset = good;
  offset.header.startOffset = 161;
  EXPECT_TRUE(refused(offset));
}

}  // namespace
}  // namespace zentrova::zrgen
