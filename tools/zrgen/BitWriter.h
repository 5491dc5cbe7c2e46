#pragma once
// Writes a frame's video bits most significant bit first, byte after byte. Alignment is counted
// from the first bit of the frame, exactly as the decoder's reader counts it.
#include <cstdint>
#include <string_view>
#include <vector>

namespace zentrova::zrgen {

class BitWriter {
 public:
  // Appends the low `count` bits of `value`, most significant first; a count above 32 puts zero
  // bits ahead of the value's 32.
  void Put(uint32_t value, int count);
  void PutBit(bool bit) { Put(bit ? 1u : 0u, 1); }
  // Appends a code as the tables and the standard print it ("0111 0"): every '0' and '1' in
  // order, anything else (the spaces that group the bits) skipped.
  void PutBits(std::string_view bits);
  // Pads with `fill` bits up to the next multiple of 16 bits counted from the frame's start; the
  // decoder skips them unread, whatever they are.
  void AlignTo16(bool fill = false);

  uint64_t bitCount() const { return bitCount_; }
  // The bytes written so far; a partial last byte is padded with zero bits.
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t> Take();

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bitCount_ = 0;
};

}  // namespace zentrova::zrgen
