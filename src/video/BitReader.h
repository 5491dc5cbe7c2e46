#pragma once
// Reads the bits of one frame's video bytes, most significant bit first, byte after byte.
//
// The window is a 64-bit word whose top `windowBits` bits are the next bits of the frame. A
// refill tops it up to at least 56 bits with one eight-byte load at the first byte not yet in
// it; the bits it brings in below that count are the frame's own next bits, so loading them
// again on the next refill changes nothing. That keeps a refill free of branches, cheap enough to
// run before every code. Past the frame's last byte the reader delivers 0 bits and never touches
// memory beyond it. Alignment is counted from the frame's first bit, not from the start code.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zentrova {

class BitReader {
 public:
  static constexpr int kMaxPeekBits = 25;
  static constexpr int kFilledBits = 56;  // bits in view after Fill

  // The reader keeps the pointer; the bytes must outlive every later call.
  void Reset(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    next_ = 0;
    window_ = 0;
    windowBits_ = 0;
  }

  // The next n bits (1 <= n <= 25) as an unsigned number, without consuming them.
  uint32_t Peek(int n) {
    if (windowBits_ < n) Fill();
    return PeekFilled(n);
  }

  void Skip(int n) {
    if (n <= windowBits_) {
      SkipFilled(n);
      return;
    }
    const uint64_t target = bitsConsumed() + static_cast<uint64_t>(n);
    next_ = target >> 3;
    window_ = 0;
    windowBits_ = 0;
    Fill();
    SkipFilled(static_cast<int>(target & 7));
  }

  uint32_t Read(int n) {
    const uint32_t value = Peek(n);
    Skip(n);
    return value;
  }

  void AlignTo16() {
    const uint64_t r = bitsConsumed() & 15;
    if (r != 0) Skip(static_cast<int>(16 - r));
  }

  // Bits consumed since Reset, including those skipped before a start code.
  uint64_t bitsConsumed() const { return next_ * 8 - static_cast<uint64_t>(windowBits_); }

  // For decoding loops: Fill puts at least 56 bits in view; then PeekFilled and SkipFilled may
  // take up to that many bits without looking at the count.
  void Fill() {
    window_ |= LoadWord(next_) >> windowBits_;
    next_ += static_cast<uint64_t>(63 - windowBits_) >> 3;
    windowBits_ |= kFilledBits;
  }
  uint32_t PeekFilled(int n) const { return static_cast<uint32_t>(window_ >> (64 - n)); }
  void SkipFilled(int n) {
    window_ <<= n;
    windowBits_ -= n;
  }

 private:
  uint64_t LoadWord(uint64_t byte) const {
    if (size_ >= 8 && byte <= size_ - 8) {
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
  uint64_t next_ = 0;    // first byte not yet loaded into the window
  uint64_t window_ = 0;  // the next bits, most significant first
  int windowBits_ = 0;   // how many of them count (0..63)
};

}  // namespace zentrova
