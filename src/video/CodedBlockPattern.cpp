#include "video/CodedBlockPattern.h"

#include <string_view>

namespace zentrova {

namespace {

struct CbpyCode {
  uint8_t value;
  const char* code;
};

// ITU-T H.263 Table 13, CBPY as read for an inter macroblock.
constexpr CbpyCode kCbpyCodes[16] = {
    {0, "11"},   {1, "0110"},   {2, "1000"},  {3, "0100"},   {4, "1010"},  {5, "0101"},   {6, "000011"}, {7, "00010"},
    {8, "1011"}, {9, "000010"}, {10, "0111"}, {11, "00011"}, {12, "1001"}, {13, "00100"}, {14, "00101"}, {15, "0011"},
};

constexpr CbpyLookup BuildCbpyLookup() {
  CbpyLookup t{};
  for (CbpyEntry& e : t.entries) e = CbpyEntry{0, 2};
  for (const CbpyCode& c : kCbpyCodes) {
    const std::string_view code(c.code);
    uint32_t value = 0;
    for (char bit : code) value = value * 2 + static_cast<uint32_t>(bit == '1');
    const int free = 6 - static_cast<int>(code.size());
    for (uint32_t i = 0; i < (1u << free); ++i)
      t.entries[(value << free) + i] = CbpyEntry{c.value, static_cast<uint8_t>(code.size())};
  }
  return t;
}

}  // namespace

constexpr CbpyLookup kCbpyLookup = BuildCbpyLookup();

}  // namespace zentrova
