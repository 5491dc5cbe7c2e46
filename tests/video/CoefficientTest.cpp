#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "StreamWriter.h"
#include "video/BitReader.h"
#include "video/BlockCoefficients.h"
#include "video/ColumnOrder.h"
#include "video/TcoefCode.h"

namespace zentrova {
namespace {

using testing::BitWriter;
using testing::Event;

struct TableRow {
  bool escape;
  int last, run, level;
  std::string code;
};

// The TCOEF rows of the standard table in the test data, or none when the file is missing.
std::vector<TableRow> ReadStandardTable() {
  std::vector<TableRow> rows;
  std::ifstream in(std::string(ZENTROVA_TABLES_DIR) + "/h263_tcoef.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("index", 0) == 0) continue;
    std::istringstream fields(line);
    std::string index, last, run, level, code, length;
    fields >> index >> last >> run >> level >> code >> length;
    TableRow row{index == "escape", 0, 0, 0, code};
    if (!row.escape) {
      row.last = std::stoi(last);
      row.run = std::stoi(run);
      row.level = std::stoi(level);
    }
    rows.push_back(row);
  }
  return rows;
}

struct Decoded {
  bool ok;
  int16_t block[64];
  uint64_t bits;
};

Decoded DecodeBits(const BitWriter& w, int first, uint32_t quantiser) {
  const auto bytes = w.bytes();
  BitReader r;
  r.Reset(bytes.data(), bytes.size());
  Decoded d{};
  d.ok = DecodeBlockCoefficients(r, d.block, first, quantiser);
  d.bits = r.bitsConsumed();
  // Every case also holds the decoder's placing entry point to the scan-order one: the same
  // verdict, the same bits taken, each coefficient at its place in the column-by-column layout.
  BitReader placed;
  placed.Reset(bytes.data(), bytes.size());
  int16_t columns[64] = {};
  EXPECT_EQ(DecodeBlockCoefficientsColumns(placed, columns, first, quantiser), d.ok);
  EXPECT_EQ(placed.bitsConsumed(), d.bits);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(columns[kScanToColumnOrder[i]], d.block[i]) << "scan position " << i;
  return d;
}

TEST(TcoefTable, EveryLookAheadFindsTheStandardCodeItStartsWith) {
  const auto rows = ReadStandardTable();
  ASSERT_FALSE(rows.empty()) << "no standard table in " << ZENTROVA_TABLES_DIR;
  ASSERT_EQ(rows.size(), 103u);
  for (uint32_t e = 0; e < 4096; ++e) {
    std::string bits;
    for (int i = 11; i >= 0; --i) bits += ((e >> i) & 1) ? '1' : '0';
    const TcoefEntry& entry = LookupTcoef(e);
    const TableRow* match = nullptr;
    for (const TableRow& row : rows)
      if (bits.rfind(row.code, 0) == 0) match = &row;
    if (!match) {
      EXPECT_LT(e, 8u);
      EXPECT_EQ(entry.length, 0) << bits;
      continue;
    }
    ASSERT_EQ(entry.length, match->code.size()) << bits;
    if (match->escape) {
      EXPECT_EQ(entry.level, 0) << bits;
      continue;
    }
    EXPECT_EQ(entry.last, match->last) << bits;
    EXPECT_EQ(entry.run, match->run) << bits;
    EXPECT_EQ(entry.level, match->level) << bits;
  }
}

TEST(TcoefTable, TheDirectTableSpreadsTheThreeTables) {
  for (uint32_t e = 0; e < 4096; ++e) {
    const TcoefEntry& three = LookupTcoef(e);
    const TcoefEntry& direct = kTcoefDirect.entries[e];
    const bool event = three.length != 0 && three.level != 0;
    ASSERT_EQ(direct.length, three.length + (event ? 1 : 0)) << e;  // with the sign bit
    ASSERT_EQ(direct.last, three.last) << e;
    ASSERT_EQ(direct.run, three.run) << e;
    ASSERT_EQ(direct.level, three.level) << e;
  }
}

TEST(TcoefTable, EveryStandardEventDecodesWithItsSign) {
  const auto rows = ReadStandardTable();
  ASSERT_FALSE(rows.empty()) << "no standard table in " << ZENTROVA_TABLES_DIR;
  for (const TableRow& row : rows) {
    if (row.escape) continue;
    for (int sign = 0; sign < 2; ++sign) {
      BitWriter w;
      w.PutBits(row.code);
      w.Put(static_cast<uint32_t>(sign), 1);
      if (!row.last) w.PutBits("0111 0");  // a closing event: last 1, run 0, level 1
      const Decoded d = DecodeBits(w, 0, 1);
      ASSERT_TRUE(d.ok) << row.code;
      const int expected = (2 * row.level + 1) * (sign ? -1 : 1);
      EXPECT_EQ(d.block[row.run], expected) << row.code;
      if (!row.last) {
        EXPECT_EQ(d.block[row.run + 1], 3) << row.code;
      }
      EXPECT_EQ(d.bits, row.code.size() + 1 + (row.last ? 0 : 5)) << row.code;
    }
  }
}

TEST(Coefficients, OddAndEvenQuantisersReconstructDifferently) {
  BitWriter positive;
  positive.PutBits("0111 0");
  EXPECT_EQ(DecodeBits(positive, 1, 5).block[1], 15);
  EXPECT_EQ(DecodeBits(positive, 1, 6).block[1], 17);
  BitWriter negative;
  negative.PutBits("0111 1");
  const Decoded d = DecodeBits(negative, 1, 6);
  EXPECT_EQ(d.block[1], -17);
  for (int i = 2; i < 64; ++i) EXPECT_EQ(d.block[i], 0);
}

TEST(Coefficients, QuantiserZeroFollowsTheEvenRule) {
  BitWriter w;
  w.PutBits("10 0  10 1  0111 0");  // +1, -1, +1 at positions 0, 1, 2
  const Decoded d = DecodeBits(w, 0, 0);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.block[0], -1);
  EXPECT_EQ(d.block[1], 1);
  EXPECT_EQ(d.block[2], -1);
}

TEST(Coefficients, EscapeCarriesATwosComplementLevel) {
  struct Case {
    uint32_t level;
    uint32_t quantiser;
    int expected;
  } cases[] = {
      {0, 5, 5},       // magnitude 0 still reconstructs to q ...
      {0, 6, 5},       // ... or q - 1, positive
      {128, 1, -257},  // 128 is negative with magnitude 128
      {255, 3, -9},    // -1
      {127, 2, 509},
      {127, 255, -511},            // 255 * 255 = 65025 keeps its low 16 bits
      {128, 255, -65535 + 65536},  // -(255 * 257) wraps to 1
  };
  for (const Case& c : cases) {
    BitWriter w;
    w.PutBits(kTcoefEscapeCode);
    w.Put(1, 1);
    w.Put(3, 6);
    w.Put(c.level, 8);
    const Decoded d = DecodeBits(w, 0, c.quantiser);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.block[3], c.expected) << c.level << " q" << c.quantiser;
    EXPECT_EQ(d.bits, 22u);
  }
}

TEST(Coefficients, ARunMayEndOnPosition63ButNotPastIt) {
  BitWriter ok;
  testing::PutEvent(ok, Event{62, 1, true, true});
  EXPECT_TRUE(DecodeBits(ok, 1, 1).ok);
  EXPECT_EQ(DecodeBits(ok, 1, 1).block[63], 3);
  BitWriter past;
  testing::PutEvent(past, Event{63, 1, true, true});
  EXPECT_FALSE(DecodeBits(past, 1, 1).ok);
  BitWriter chained;  // positions 0..62 by one-step runs, then one more past the end
  for (int i = 0; i < 63; ++i) testing::PutEvent(chained, Event{0, 1, false});
  testing::PutEvent(chained, Event{1, 1, true});
  EXPECT_FALSE(DecodeBits(chained, 0, 1).ok);
}

TEST(Coefficients, NineLeadingZerosAreNoCode) {
  BitWriter w;
  w.PutBits("0000 0000 0111 1111");
  EXPECT_FALSE(DecodeBits(w, 0, 1).ok);
  BitWriter empty;
  EXPECT_FALSE(DecodeBits(empty, 0, 1).ok);
}

}  // namespace
}  // namespace zentrova
