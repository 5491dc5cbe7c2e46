#pragma once
// Writes a frame's video bits most significant bit first, byte after byte. Alignment is counted
// from the first bit of the frame, exactly as the decoder's reader counts it.
#include <cstdint>
#include <vector>

namespace zentrova::zrgen {

class BitWriter {
 public:
  // Appends the low `count` bits of `value` (count 0..32), most significant first.
  void Put(uint32_t value, int count);
  void PutBit(bool bit) { Put(bit ? 1u : 0u, 1); }
  // Pads with zero bits up to the next multiple of 16 bits counted from the frame's start.
  void AlignTo16();

  uint64_t bitCount() const { return bitCount_; }
  // The bytes written so far; a partial last byte is padded with zero bits.
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t> Take();

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bitCount_ = 0;
};

}  // namespace zentrova::zrgen
