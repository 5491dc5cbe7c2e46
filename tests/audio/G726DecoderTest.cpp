#include "audio/G726Decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/G726Tables.h"

namespace zentrova {
namespace {

using ::testing::ElementsAre;
using ::testing::Each;

std::vector<int16_t> DecodeBytes(G726Decoder& decoder, const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() / 3 * 8, 0x5555);
  EXPECT_TRUE(decoder.Decode(bytes.data(), out.data(), static_cast<int32_t>(bytes.size())));
  return out;
}

G726Decoder& Prepared(G726Decoder& decoder, int direction) {
  EXPECT_TRUE(decoder.Prepare(direction));
  return decoder;
}

TEST(G726DecodeVectors, SilenceAndTheSmallestCodesDecodeToZero) {
  G726Decoder a;
  EXPECT_THAT(DecodeBytes(Prepared(a, 0), {0x00, 0x00, 0x00}), Each(0));
  G726Decoder b;
  EXPECT_THAT(DecodeBytes(Prepared(b, 0), {0xFF, 0xFF, 0xFF}), Each(0));
}

TEST(G726DecodeVectors, EightCodesOneDecodeToFours) {
  G726Decoder d;
  EXPECT_THAT(DecodeBytes(Prepared(d, 0), {0x49, 0x92, 0x24}), Each(4));
}

TEST(G726DecodeVectors, CodesComeLeastSignificantBitFirstAndStateRunsOnAcrossCalls) {
  G726Decoder d;
  Prepared(d, 0);
  // 88 C6 FA carries the codes 0..7 in order, including the two that straddle byte boundaries.
  EXPECT_THAT(DecodeBytes(d, {0x88, 0xC6, 0xFA}), ElementsAre(0, 4, 9, 16, -24, -18, -8, 0));
  EXPECT_THAT(DecodeBytes(d, {0x88, 0xC6, 0xFA}), ElementsAre(0, 5, 12, 25, -48, -64, -40, -6));
}

TEST(G726DecodeVectors, OneCallOrManyGiveTheSameSamples) {
  std::vector<uint8_t> bytes(900);
  uint32_t seed = 12345;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  G726Decoder whole;
  const std::vector<int16_t> expected = DecodeBytes(Prepared(whole, 0), bytes);
  G726Decoder pieces;
  Prepared(pieces, 0);
  std::vector<int16_t> got;
  for (size_t at = 0; at < bytes.size(); at += 9) {
    const auto part = DecodeBytes(pieces, std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + 9));
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, expected);
}

TEST(G726DecodeVectors, ALongRunOfCodeThreeWrapsPastTheSixteenBitLimit) {
  G726Decoder d;
  Prepared(d, 0);
  // Code 3 eight times: bits 011 repeated, W = 0x6DB6DB. Every difference is positive, so SR can
  // only fall below the estimate's sign if the 16-bit estimate itself wrapped at the limit.
  const std::vector<uint8_t> group = {0xDB, 0xB6, 0x6D};
  std::vector<int16_t> run;
  for (int i = 0; i < 4; ++i) {
    const auto part = DecodeBytes(d, group);
    run.insert(run.end(), part.begin(), part.end());
  }
  EXPECT_THAT(std::vector<int16_t>(run.begin(), run.begin() + 8), ElementsAre(15, 18, 20, 23, 30, 38, 51, 68));
  const auto peak = std::max_element(run.begin(), run.end());
  EXPECT_GT(*peak, 20000);
  EXPECT_TRUE(std::is_sorted(run.begin(), peak + 1)) << "a steady positive run climbs";
  ASSERT_NE(peak + 1, run.end());
  EXPECT_LT(*(peak + 1), -8000) << "the estimate wraps to negative rather than saturating";
}

TEST(G726DecodeRefusals, ByteCountsThatAreNotWholeGroupsOrTooLargeAreRefusedUntouched) {
  G726Decoder d;
  Prepared(d, 0);
  std::vector<uint8_t> in(9003, 0x88);
  std::vector<int16_t> out(24008, 0x1234);
  EXPECT_FALSE(d.Decode(in.data(), out.data(), 4));
  EXPECT_FALSE(d.Decode(in.data(), out.data(), 1));
  EXPECT_FALSE(d.Decode(in.data(), out.data(), -3));
  EXPECT_FALSE(d.Decode(in.data(), out.data(), 9003));
  EXPECT_THAT(out, Each(0x1234));
  EXPECT_TRUE(d.Decode(in.data(), out.data(), 0));
  EXPECT_THAT(out, Each(0x1234));
  EXPECT_TRUE(d.Decode(in.data(), out.data(), 9000));
  EXPECT_EQ(out[24000], 0x1234);
  // None of the refusals touched the state: a fresh decoder gives what this one gave first.
  G726Decoder fresh;
  std::vector<int16_t> expected(24000);
  ASSERT_TRUE(Prepared(fresh, 0).Decode(in.data(), expected.data(), 9000));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
}

TEST(G726DecodeRefusals, DecodingNeedsTheDecodingDirectionPrepared) {
  G726Decoder d;
  std::array<uint8_t, 3> in = {0x49, 0x92, 0x24};
  std::array<int16_t, 8> out{};
  EXPECT_FALSE(d.Decode(in.data(), out.data(), 3));
  EXPECT_TRUE(d.Prepare(1));
  EXPECT_FALSE(d.Decode(in.data(), out.data(), 3));
  EXPECT_TRUE(d.Prepare(0));
  EXPECT_TRUE(d.Decode(in.data(), out.data(), 3));
  EXPECT_THAT(out, Each(4));
}

TEST(G726Prepare, ASecondPrepareIsRefusedAndLeavesTheRunningState) {
  G726Decoder d;
  Prepared(d, 0);
  DecodeBytes(d, {0x88, 0xC6, 0xFA});
  EXPECT_FALSE(d.Prepare(0));
  EXPECT_THAT(DecodeBytes(d, {0x88, 0xC6, 0xFA}), ElementsAre(0, 5, 12, 25, -48, -64, -40, -6));
}

TEST(G726Prepare, SwitchingDirectionsKeepsEachState) {
  G726Decoder d;
  Prepared(d, 0);
  DecodeBytes(d, {0x88, 0xC6, 0xFA});
  Prepared(d, 1);
  EXPECT_FALSE(d.Prepare(0));  // already prepared: switches back, state as it was
  EXPECT_THAT(DecodeBytes(d, {0x88, 0xC6, 0xFA}), ElementsAre(0, 5, 12, 25, -48, -64, -40, -6));
}

// Reads the rows "code dqln wi fi" of the standard's 24 kbit/s table.
TEST(G726Tables, MatchTheStandardsTwentyFourKilobitTables) {
  const std::string path = std::string(ZENTROVA_TABLES_DIR) + "/g726_24k.tsv";
  std::ifstream file(path);
  ASSERT_TRUE(file) << "no standard table at " << path;
  std::string line;
  int rows = 0;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("code", 0) == 0) continue;
    std::istringstream fields(line);
    int code = -1, dqln = 0, wi = 0, fi = 0;
    ASSERT_TRUE(fields >> code >> dqln >> wi >> fi) << line;
    ASSERT_GE(code, 0);
    ASSERT_LT(code, 8);
    EXPECT_EQ(g726::kDqln[code], dqln) << "code " << code;
    EXPECT_EQ(g726::kWi[code], wi) << "code " << code;
    EXPECT_EQ(g726::kFi[code], fi) << "code " << code;
    ++rows;
  }
  EXPECT_EQ(rows, 8);
  EXPECT_THAT(g726::kDecisionLevels, ElementsAre(8, 218, 331));
}

}  // namespace
}  // namespace zentrova
