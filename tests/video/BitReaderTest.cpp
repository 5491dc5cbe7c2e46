#include "video/BitReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace zentrova {
namespace {

TEST(BitReader, TakesBitsMostSignificantFirstAcrossBytes) {
  const uint8_t bytes[] = {0xA5, 0x3C, 0xFF, 0x01};
  BitReader r;
  r.Reset(bytes, sizeof bytes);
  EXPECT_EQ(r.Read(1), 1u);
  EXPECT_EQ(r.Read(3), 0b010u);
  EXPECT_EQ(r.Peek(8), 0x53u);  // 0101 then 0011
  EXPECT_EQ(r.Read(8), 0x53u);
  EXPECT_EQ(r.Read(20), 0xCFF01u);
  EXPECT_EQ(r.bitsConsumed(), 32u);
}

TEST(BitReader, LooksAheadTwentyFiveBitsFromAnyOffset) {
  std::vector<uint8_t> bytes(16);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  for (int offset = 0; offset < 64; ++offset) {
    BitReader r;
    r.Reset(bytes.data(), bytes.size());
    r.Skip(offset);
    uint32_t expected = 0;
    for (int i = 0; i < 25; ++i) {
      const int bit = offset + i;
      expected = expected * 2 + ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
    }
    EXPECT_EQ(r.Peek(25), expected) << offset;
  }
}

// The frame sits at the very end of its own heap block, so any read past it is caught by the
// address sanitizer.
TEST(BitReader, DeliversZerosPastTheFrameWithoutReadingThere) {
  auto bytes = std::make_unique<uint8_t[]>(3);
  bytes[0] = 0xFF;
  bytes[1] = 0xFF;
  bytes[2] = 0xFF;
  BitReader r;
  r.Reset(bytes.get(), 3);
  r.Skip(20);
  EXPECT_EQ(r.Read(8), 0xF0u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(r.Read(25), 0u);
  BitReader empty;
  empty.Reset(nullptr, 0);
  EXPECT_EQ(empty.Read(25), 0u);
}

TEST(BitReader, AlignsToSixteenBitsCountedFromTheFirstBit) {
  const uint8_t bytes[8] = {};
  BitReader r;
  r.Reset(bytes, sizeof bytes);
  r.AlignTo16();
  EXPECT_EQ(r.bitsConsumed(), 0u);
  r.Skip(5);
  r.AlignTo16();
  EXPECT_EQ(r.bitsConsumed(), 16u);
  r.Skip(16);
  r.AlignTo16();
  EXPECT_EQ(r.bitsConsumed(), 32u);
  r.Skip(17);
  r.AlignTo16();
  EXPECT_EQ(r.bitsConsumed(), 64u);
}

}  // namespace
}  // namespace zentrova
