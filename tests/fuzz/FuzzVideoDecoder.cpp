// Fuzz target: arbitrary bytes as a run of video frames for one decoder. Byte 0 chooses the
// generation (bit 0), the transform (bit 1) and the enlargement mode (bit 2); then each frame is
// a 16-bit little-endian length and that many bytes (the last one takes what is left).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "video/VideoDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  // The largest picture delivered is 704 x 288 or 640 x 480 (both within 307,200 pixels).
  std::vector<uint8_t> picture(307200 * 3);
  zentrova::fuzz::AllocationBudget budget(data, size);
  zentrova::VideoDecoder decoder;
  const uint32_t stamp = (options & 1) ? 0x20020219 : 0x20020114;
  const auto idct = (options & 2) ? zentrova::IdctChoice::Vector : zentrova::IdctChoice::Plain;
  if (!decoder.Initialise(stamp, idct)) return 0;
  size_t at = 1;
  for (int frames = 0; at < size && frames < 16; ++frames) {
    size_t length = size - at;
    if (length >= 2) {
      const size_t declared = data[at] | (static_cast<size_t>(data[at + 1]) << 8);
      at += 2;
      length = declared < size - at ? declared : size - at;
    }
    // A copy of exactly the frame's size, so that a read past it is caught (malloc, which the
    // allocation budget leaves alone).
    uint8_t* frame = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    if (!frame) return 0;
    if (length) std::memcpy(frame, data + at, length);
    const zentrova::DecodeStatus s = decoder.DecodeFrame(frame, static_cast<uint32_t>(length), picture.data(),
                                                         picture.size(), (options >> 2) & 1);
    std::free(frame);
    if (static_cast<int64_t>(s.width) * s.height * 3 > static_cast<int64_t>(picture.size())) __builtin_trap();
    at += length;
  }
  return 0;
}
