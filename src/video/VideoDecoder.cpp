// Placeholder until the decoder lands: initialises, decodes nothing.
#include "video/VideoDecoder.h"

namespace zentrova {

struct VideoDecoder::State {};

VideoDecoder::VideoDecoder() = default;
VideoDecoder::~VideoDecoder() { ReleaseBuffers(); }
int VideoDecoder::Initialise(uint32_t, IdctChoice) { return 1; }
DecodeStatus VideoDecoder::DecodeFrame(const uint8_t*, uint32_t, uint8_t*, size_t, int) {
  DecodeStatus s;
  s.failed = 1;
  return s;
}
void VideoDecoder::ReleaseBuffers() {
  delete state_;
  state_ = nullptr;
}
void VideoDecoder::SetPictureSize(int32_t, int32_t, int32_t, int32_t) {}
const uint8_t* VideoDecoder::planeY() const { return nullptr; }
const uint8_t* VideoDecoder::planeCb() const { return nullptr; }
const uint8_t* VideoDecoder::planeCr() const { return nullptr; }
int32_t VideoDecoder::codedWidth() const { return 0; }
int32_t VideoDecoder::codedHeight() const { return 0; }
bool VideoDecoder::usesVectorTransform() const { return false; }

}  // namespace zentrova
