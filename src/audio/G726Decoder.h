#pragma once
// ITU-T G.726 ADPCM at 24 kbit/s: 3-bit codes, packed eight to three bytes, 8000 samples/s.
#include <cstdint>

namespace zentrova {

class G726Decoder {
 public:
  static constexpr int32_t kBufferBytes = 9000;  // 24000 samples, three seconds

  G726Decoder();
  virtual ~G726Decoder();
  G726Decoder(const G726Decoder&) = delete;
  G726Decoder& operator=(const G726Decoder&) = delete;

  // direction 0 prepares decoding, any other value encoding. 1 on success, 0 when that direction
  // is already prepared (nothing changes) or the buffer cannot be had.
  int Prepare(int direction);

  // Decodes byteCount / 3 x 8 samples. Returns 0 without touching output or state when byteCount
  // is not a multiple of 3, exceeds kBufferBytes, or decoding was not prepared.
  int Decode(const uint8_t* input, int16_t* output, int32_t byteCount, int32_t reserved = 0);

  // Encodes sampleCount samples (a multiple of 8, at most 24000) into sampleCount / 8 x 3 bytes.
  // Returns 0 when the count is refused or encoding was not prepared.
  int Encode(const int16_t* input, uint8_t* output, int32_t sampleCount);

 private:
  struct State;
  State* state_ = nullptr;
};

}  // namespace zentrova
