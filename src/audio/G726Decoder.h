#pragma once
// ITU-T G.726 ADPCM at 24 kbit/s: 3-bit codes, packed eight to three bytes, 8000 samples/s.
#include <cstdint>
#include <memory>

#include "base/Expected.h"

namespace zentrova {

struct G726State;

class G726Decoder {
 public:
  static constexpr int32_t kBufferBytes = 9000;  // 24000 samples, three seconds

  G726Decoder();
  virtual ~G726Decoder();
  G726Decoder(const G726Decoder&) = delete;
  G726Decoder& operator=(const G726Decoder&) = delete;

  // direction 0 prepares decoding, any other value encoding. The direction is switched first; then
  // it fails when that direction is already prepared (its state runs on unchanged) or its state
  // cannot be had.
  Expected<void> Prepare(int direction);

  // Decodes byteCount / 3 x 8 samples. Fails without touching output or state when byteCount is
  // not a multiple of 3, exceeds kBufferBytes, or decoding was not prepared.
  // The samples are the reconstructed signal itself: 14-bit range in 16 bits, not scaled up.
  // The adaptive state runs on from call to call; only a fresh decoder starts from the initial state.
  Expected<void> Decode(const uint8_t* input, int16_t* output, int32_t byteCount);

  // Encodes sampleCount samples (a multiple of 8, at most 24000) into sampleCount / 8 x 3 bytes.
  // Fails when the count is refused or encoding was not prepared.
  // The samples are taken at the decoder's scale, 14-bit range (-8192..8191; beyond is clamped),
  // so that decoding the codes gives back about the same values: shift 16-bit PCM right by 2 first.
  Expected<void> Encode(const int16_t* input, uint8_t* output, int32_t sampleCount);

 private:
  int direction_ = 0;
  std::unique_ptr<G726State> decoding_;
  std::unique_ptr<G726State> encoding_;
};

}  // namespace zentrova
