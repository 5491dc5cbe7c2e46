#include <gtest/gtest.h>

#include "StreamWriter.h"
#include "video/BitReader.h"
#include "video/CodedBlockPattern.h"
#include "video/PictureHeader.h"

namespace zentrova {
namespace {

using testing::BitWriter;

std::vector<uint8_t> StartCodeAt(int position, int trailingBits = 64) {
  BitWriter w;
  for (int i = 0; i < position; ++i) w.Put(0, 1);
  w.Put(16, 21);
  w.Put(0, trailingBits);
  return w.bytes();
}

TEST(StartCode, IsFoundAtBitPositionsUpTo160) {
  for (int position : {0, 1, 7, 8, 100, 159, 160}) {
    const auto bytes = StartCodeAt(position);
    BitReader r;
    r.Reset(bytes.data(), bytes.size());
    ASSERT_TRUE(FindStartCode(r)) << position;
    EXPECT_EQ(r.bitsConsumed(), static_cast<uint64_t>(position + 21));
  }
}

TEST(StartCode, IsNotFoundFromBit161On) {
  for (int position : {161, 170}) {
    const auto bytes = StartCodeAt(position);
    BitReader r;
    r.Reset(bytes.data(), bytes.size());
    EXPECT_FALSE(FindStartCode(r)) << position;
  }
}

TEST(StartCode, IsTheValueSixteenNotThirtyTwo) {
  BitWriter w;
  w.PutBits("0000 0000 0000 0001 0000 0");  // fifteen 0 bits then the 1: the value 32
  w.Put(0, 200);
  auto bytes = w.bytes();
  BitReader r;
  r.Reset(bytes.data(), bytes.size());
  EXPECT_FALSE(FindStartCode(r));

  BitWriter sixteen;
  sixteen.PutBits("0000 0000 0000 0000 1000 0");  // sixteen 0 bits, the 1, four 0 bits
  sixteen.Put(0, 200);
  bytes = sixteen.bytes();
  r.Reset(bytes.data(), bytes.size());
  ASSERT_TRUE(FindStartCode(r));
  EXPECT_EQ(r.bitsConsumed(), 21u);
}

TEST(StartCode, EmptyOrAllZeroFramesHaveNone) {
  BitReader r;
  r.Reset(nullptr, 0);
  EXPECT_FALSE(FindStartCode(r));
  const std::vector<uint8_t> zeros(100, 0);
  r.Reset(zeros.data(), zeros.size());
  EXPECT_FALSE(FindStartCode(r));
}

TEST(PictureHeader, ReadsTheIntraFieldsOf352x288AtQuantiser8) {
  BitWriter w;
  w.Put(16, 21);
  w.PutBits("00 01 0110 0000 01 0010 0000 0000 1000 1");
  w.Put(0, 32);
  const auto bytes = w.bytes();
  BitReader r;
  r.Reset(bytes.data(), bytes.size());
  ASSERT_TRUE(FindStartCode(r));
  const PictureHeader h = ReadPictureHeader(r);
  EXPECT_TRUE(h.intra());
  EXPECT_EQ(h.width, 352u);
  EXPECT_EQ(h.height, 288u);
  EXPECT_EQ(h.quantiser, 8u);
  EXPECT_EQ(r.bitsConsumed(), 52u);
  r.AlignTo16();
  EXPECT_EQ(r.bitsConsumed(), 64u);
}

TEST(PictureHeader, ACodedInterHeaderEndsAligned) {
  BitWriter w;
  w.Put(16, 21);
  w.PutBits("11 1 0000 0101");
  w.Put(0, 32);
  const auto bytes = w.bytes();
  BitReader r;
  r.Reset(bytes.data(), bytes.size());
  ASSERT_TRUE(FindStartCode(r));
  const PictureHeader h = ReadPictureHeader(r);
  EXPECT_FALSE(h.intra());
  EXPECT_TRUE(h.coded);
  EXPECT_EQ(h.quantiser, 5u);
  EXPECT_EQ(r.bitsConsumed(), 32u);
}

TEST(PictureHeader, ANotCodedInterHeaderStopsAfterItsCodedBit) {
  BitWriter w;
  w.Put(16, 21);
  w.PutBits("10 0 1111 1111");
  const auto bytes = w.bytes();
  BitReader r;
  r.Reset(bytes.data(), bytes.size());
  ASSERT_TRUE(FindStartCode(r));
  const PictureHeader h = ReadPictureHeader(r);
  EXPECT_FALSE(h.coded);
  EXPECT_EQ(r.bitsConsumed(), 24u);
}

TEST(Cbpy, DecodesEveryCodeAndConsumesItsLength) {
  for (uint32_t cbpy = 0; cbpy < 16; ++cbpy) {
    BitWriter w;
    const std::string code = testing::CbpyCode(cbpy);
    w.PutBits(code);
    w.PutBits("101010101010");
    const auto bytes = w.bytes();
    BitReader r;
    r.Reset(bytes.data(), bytes.size());
    EXPECT_EQ(ReadCbpy(r), cbpy);
    EXPECT_EQ(r.bitsConsumed(), code.size());
  }
}

TEST(Cbpy, LookAheadsZeroAndOneReadLikeCode11) {
  for (const char* bits : {"000000 11", "000001 11"}) {
    BitWriter w;
    w.PutBits(bits);
    const auto bytes = w.bytes();
    BitReader r;
    r.Reset(bytes.data(), bytes.size());
    EXPECT_EQ(ReadCbpy(r), 0u);
    EXPECT_EQ(r.bitsConsumed(), 2u);
  }
}

}  // namespace
}  // namespace zentrova
