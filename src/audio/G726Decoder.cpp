// Placeholder until the G.726 decoder lands: decodes silence.
#include "audio/G726Decoder.h"

#include <cstring>

namespace zentrova {

struct G726Decoder::State {};

G726Decoder::G726Decoder() = default;
G726Decoder::~G726Decoder() { delete state_; }
int G726Decoder::Prepare(int) { return 1; }
int G726Decoder::Decode(const uint8_t*, int16_t* output, int32_t byteCount, int32_t) {
  if (byteCount % 3 != 0 || byteCount > kBufferBytes) return 0;
  std::memset(output, 0, static_cast<size_t>(byteCount / 3 * 8) * sizeof(int16_t));
  return 1;
}
int G726Decoder::Encode(const int16_t*, uint8_t*, int32_t) { return 0; }

}  // namespace zentrova
