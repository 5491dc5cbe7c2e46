// The search between recordings against a bit-by-bit reading of the same bytes, at every
// instruction-set level the processor has: the vector loops must find the same places.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "recording/StartCodeSearch.h"
#include "base/CpuFlags.h"

namespace zentrova {
namespace {

// Every hit in b[0, n), found one bit at a time: "ZR", or the 21 bits 0000 0000 0000 0001 0000 0
// starting at any bit.
std::vector<SearchHit> BitByBit(const std::vector<uint8_t>& b, size_t n) {
  auto bit = [&](size_t p) { return (b[p / 8] >> (7 - p % 8)) & 1; };
  std::vector<SearchHit> hits;
  for (size_t k = 0; k + 3 < n; ++k) {
    if (b[k] == 'Z' && b[k + 1] == 'R') {
      hits.push_back({k, true, 0});
      continue;
    }
    // A code whose 1 bit is bit o of byte k + 1 starts 16 bits before it.
    for (int o = 0; o < 8; ++o) {
      const size_t one = (k + 1) * 8 + static_cast<size_t>(o);
      if (one < 16 || one + 5 > n * 8) continue;
      uint32_t code = 0;
      for (size_t p = one - 16; p < one + 5; ++p) code = code << 1 | static_cast<uint32_t>(bit(p));
      if (code == 16) hits.push_back({k, false, o});
    }
  }
  return hits;
}

std::vector<SearchHit> Searched(const std::vector<uint8_t>& b, size_t n, uint32_t flags) {
  std::vector<SearchHit> hits;
  for (size_t from = 0;;) {
    const SearchHit hit = NextSearchHit(b.data(), from, n, flags);
    if (hit.at >= n - 3) break;
    hits.push_back(hit);
    from = hit.at + 1;
  }
  return hits;
}

// Bytes with far more near-misses than noise has: zero runs, the byte shapes that can follow
// them, stray "Z"s and "R"s, and codes planted at every bit.
std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  static constexpr uint8_t kNear[] = {0, 0, 0, 0x80, 0x87, 0x88, 0x40, 0x43, 0x44, 0x20, 0x21, 0x22, 0x10,
                                      0x11, 0x08, 0x09, 0x04, 0x02, 0x01, 'Z', 'R', 0xFF, 0x18, 0x30};
  std::vector<uint8_t> b(size);
  for (uint8_t& x : b) x = random() % 3 ? kNear[random() % std::size(kNear)] : static_cast<uint8_t>(random());
  auto put = [&](size_t p, int value) {
    const auto mask = static_cast<uint8_t>(0x80 >> (p % 8));
    b[p / 8] = static_cast<uint8_t>(value ? b[p / 8] | mask : b[p / 8] & ~mask);
  };
  for (size_t p = 320; p + 64 < size * 8; p += 97 * 8 + 3)
    for (int i = 0; i < 21; ++i) put(p + static_cast<size_t>(i), i == 15);
  return b;
}

TEST(StartCodeSearch, EveryLevelFindsWhatABitByBitReadingFinds) {
  const uint32_t processor = ProcessorCpuFlags();
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const std::vector<uint8_t> b = Bytes(6000, seed);
    // Lengths that end inside a vector, right after one, and far from any.
    for (const size_t n : {size_t{6000}, size_t{5999}, size_t{4099}, size_t{64}, size_t{35}, size_t{19}}) {
      const std::vector<SearchHit> expected = BitByBit(b, n);
      if (n > 4000) {
        ASSERT_FALSE(expected.empty());
      }
      for (const CpuLevel& level : kCpuLevels) {
        if ((level.flags & processor) != level.flags) continue;
        const std::vector<SearchHit> got = Searched(b, n, level.flags);
        ASSERT_EQ(got.size(), expected.size()) << level.name << " n=" << n << " seed=" << seed;
        for (size_t i = 0; i < got.size(); ++i) {
          EXPECT_EQ(got[i].at, expected[i].at) << level.name << " hit " << i;
          EXPECT_EQ(got[i].header, expected[i].header) << level.name << " hit " << i;
          EXPECT_EQ(got[i].bit, expected[i].bit) << level.name << " hit " << i;
        }
      }
    }
  }
}

TEST(StartCodeSearch, EmptyDiskHoldsNothingAndACodeCountsOnlyWhenItsBytesAreThere) {
  const std::vector<uint8_t> zeros(1 << 16, 0);
  const uint8_t code[] = {0, 0, 0x80, 0, 0};  // a code with its 1 bit at the top of byte 2
  for (const CpuLevel& level : kCpuLevels) {
    if ((level.flags & ProcessorCpuFlags()) != level.flags) continue;
    EXPECT_EQ(NextSearchHit(zeros.data(), 0, zeros.size(), level.flags).at, zeros.size() - 3);
    EXPECT_EQ(NextSearchHit(code, 0, 5, level.flags).at, 1u);
    EXPECT_FALSE(NextSearchHit(code, 0, 5, level.flags).header);
    EXPECT_EQ(NextSearchHit(code, 0, 4, level.flags).at, 1u);  // the end: no hit
    EXPECT_EQ(NextSearchHit(code, 2, 5, level.flags).at, 2u);
    for (size_t n = 0; n < 3; ++n) EXPECT_EQ(NextSearchHit(code, 0, n, level.flags).at, 0u);
  }
}

}  // namespace
}  // namespace zentrova
