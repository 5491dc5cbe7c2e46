// The encoder's code tables against the standard's tables and against the decoder's scan.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "zrgen/EncoderTables.h"
#include "video/InverseDct.h"

namespace zentrova::zrgen {
namespace {

std::string Bits(uint32_t bits, int length) {
  std::string s;
  for (int i = length - 1; i >= 0; --i) s += ((bits >> i) & 1) ? '1' : '0';
  return s;
}

TEST(EncoderTables, TcoefMatchesTheStandardTable) {
  const std::filesystem::path file = std::filesystem::path(ZENTROVA_TABLES_DIR) / "h263_tcoef.tsv";
  ASSERT_TRUE(std::filesystem::exists(file)) << "no standard table at " << file;
  std::ifstream in(file);
  std::string line;
  size_t rows = 0;
  bool sawEscape = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("index", 0) == 0) continue;
    std::istringstream fields(line);
    std::string index, last, run, level, code, length;
    fields >> index >> last >> run >> level >> code >> length;
    if (index == "escape") {
      EXPECT_EQ(Bits(kTcoefEscape.bits, kTcoefEscape.length), code);
      sawEscape = true;
      continue;
    }
    const TcoefEntry& e = kTcoefTable.at(std::stoul(index));
    EXPECT_EQ(e.last, std::stoi(last)) << line;
    EXPECT_EQ(e.run, std::stoi(run)) << line;
    EXPECT_EQ(e.level, std::stoi(level)) << line;
    EXPECT_EQ(Bits(e.bits, e.length), code) << line;
    EXPECT_EQ(std::optional<int>(e.length), std::optional<int>(TcoefCodeFor(e.last, e.run, e.level)->length));
    ++rows;
  }
  EXPECT_EQ(rows, kTcoefTable.size());
  EXPECT_TRUE(sawEscape);
}

TEST(EncoderTables, EventsOutsideTheTableNeedEscape) {
  EXPECT_FALSE(TcoefCodeFor(0, 0, 13));
  EXPECT_FALSE(TcoefCodeFor(0, 27, 1));
  EXPECT_FALSE(TcoefCodeFor(1, 0, 4));
  EXPECT_FALSE(TcoefCodeFor(1, 41, 1));
  EXPECT_FALSE(TcoefCodeFor(0, 0, 0));
  ASSERT_TRUE(TcoefCodeFor(1, 40, 1));
  EXPECT_EQ(Bits(TcoefCodeFor(1, 40, 1)->bits, 12), "000001011111");
}

TEST(EncoderTables, CbpyCodesArePrefixFree) {
  std::set<std::string> codes;
  for (int v = 0; v < 16; ++v) codes.insert(Bits(CbpyCode(v).bits, CbpyCode(v).length));
  ASSERT_EQ(codes.size(), 16u);
  for (const std::string& a : codes)
    for (const std::string& b : codes)
      if (a != b) {
        EXPECT_NE(b.rfind(a, 0), 0u) << a << " is a prefix of " << b;
      }
  EXPECT_EQ(Bits(CbpyCode(0).bits, CbpyCode(0).length), "11");
  EXPECT_EQ(Bits(CbpyCode(15).bits, CbpyCode(15).length), "0011");
}

TEST(EncoderTables, ScanOrderIsTheInverseOfTheDecodersZigzag) {
  for (int k = 0; k < 64; ++k) EXPECT_EQ(ZigzagTable[kScanOrder[k]], k) << "transmission index " << k;
}

}  // namespace
}  // namespace zentrova::zrgen
