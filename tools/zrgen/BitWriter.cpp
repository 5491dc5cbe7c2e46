#include "BitWriter.h"

#include <utility>

namespace zentrova::zrgen {

void BitWriter::Put(uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    const int inByte = static_cast<int>(bitCount_ % 8);
    if (inByte == 0) bytes_.push_back(0);
    if (i < 32 && ((value >> i) & 1u)) bytes_.back() |= static_cast<uint8_t>(0x80u >> inByte);
    ++bitCount_;
  }
}

void BitWriter::PutBits(std::string_view bits) {
  for (char c : bits)
    if (c == '0' || c == '1') PutBit(c == '1');
}

void BitWriter::AlignTo16(bool fill) {
  while (bitCount_ % 16 != 0) PutBit(fill);
}

std::vector<uint8_t> BitWriter::Take() {
  bitCount_ = 0;
  return std::exchange(bytes_, {});
}

}  // namespace zentrova::zrgen
