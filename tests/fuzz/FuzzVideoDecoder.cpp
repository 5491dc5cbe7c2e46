// Fuzz target: arbitrary bytes as a run of video frames for one decoder. Byte 0 chooses the
// generation (bit 0), the transform (bit 1), the enlargement mode (bit 2) and the delivery (bits
// 3-4: a 24-bit picture, planes of exactly 320 x 240, or decoding alone and then planes of any
// size); then each frame is a 16-bit little-endian length and that many bytes (the last one takes
// what is left).
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
  const int delivery = (options >> 3) & 3;
  // Planes of exactly their size (malloc, so that a write past them is caught).
  const size_t luma = delivery == 1 ? 320 * 240 : zentrova::VideoDecoder::kMaxPictureSamples;
  auto* y = static_cast<uint8_t*>(std::malloc(luma));
  auto* cb = static_cast<uint8_t*>(std::malloc(luma / 4));
  auto* cr = static_cast<uint8_t*>(std::malloc(luma / 4));
  const zentrova::PlaneBuffers exact{y, cb, cr, 320, 240};
  const zentrova::PlaneBuffers anySize{y, cb, cr, 0, 0, luma};
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
    if (!frame) break;
    if (length) std::memcpy(frame, data + at, length);
    const auto bytes = static_cast<uint32_t>(length);
    const int mode = (options >> 2) & 1;
    zentrova::DecodeStatus s;
    if (delivery == 0 || !y || !cb || !cr) {
      s = decoder.DecodeFrame(frame, bytes, picture.data(), picture.size(), mode);
    } else if (delivery == 1) {
      s = decoder.DecodeFramePlanes(frame, bytes, exact, mode);
    } else {
      s = decoder.DecodeReference(frame, bytes, mode);
      if (!s.failed) decoder.DeliverReference(anySize, mode, s);
    }
    std::free(frame);
    if (static_cast<int64_t>(s.width) * s.height * 3 > static_cast<int64_t>(picture.size())) __builtin_trap();
    at += length;
  }
  std::free(y);
  std::free(cb);
  std::free(cr);
  return 0;
}
