#pragma once
// Reads the bits of one frame's video bytes, most significant bit first, byte after byte.
//
// The window is a 64-bit word holding the next 57 to 64 bits, most significant first; it is
// loaded from the byte of the current position whenever fewer bits remain than a look-ahead
// needs, so up to 25 bits are always in view. Past the frame's last byte the reader delivers
// 0 bits and never touches memory beyond it. Alignment is counted from the frame's first bit,
// not from the start code.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zentrova {

class BitReader {
 public:
  static constexpr int kMaxPeekBits = 25;

  // The reader keeps the pointer; the bytes must outlive every later call.
  void Reset(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    position_ = 0;
    window_ = 0;
    windowBits_ = 0;
  }

  // The next n bits (1 <= n <= 25) as an unsigned number, without consuming them.
  uint32_t Peek(int n) {
    if (windowBits_ < n) Refill();
    return static_cast<uint32_t>(window_ >> (64 - n));
  }

  void Skip(int n) {
    position_ += static_cast<uint64_t>(n);
    if (n < windowBits_) {
      window_ <<= n;
      windowBits_ -= n;
      return;
    }
    windowBits_ = 0;  // the next look-ahead reloads at the new position
  }

  uint32_t Read(int n) {
    const uint32_t value = Peek(n);
    Skip(n);
    return value;
  }

  void AlignTo16() {
    const uint64_t r = position_ & 15;
    if (r != 0) Skip(static_cast<int>(16 - r));
  }

  // Bits consumed since Reset, including those skipped before a start code.
  uint64_t bitsConsumed() const { return position_; }

 private:
  void Refill() {
    const int offset = static_cast<int>(position_ & 7);
    window_ = LoadWord(position_ >> 3) << offset;
    windowBits_ = 64 - offset;
  }

  uint64_t LoadWord(uint64_t byte) const {
    if (byte + 8 <= size_) {
      uint64_t word;
      std::memcpy(&word, data_ + byte, 8);
      return __builtin_bswap64(word);
    }
    return LoadTailWord(byte);
  }

  // The last bytes of the frame followed by zeros, without reading past the frame.
  uint64_t LoadTailWord(uint64_t byte) const {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) {
      const uint64_t at = byte + static_cast<uint64_t>(i);
      const uint64_t value = at < size_ ? data_[at] : 0;
      word |= value << (56 - 8 * i);
    }
    return word;
  }

  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  uint64_t window_ = 0;  // the bits from position_ on, most significant first
  int windowBits_ = 0;   // how many of them are valid
};

}  // namespace zentrova
