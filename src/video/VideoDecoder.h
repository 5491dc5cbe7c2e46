#pragma once
// Turns the video bytes of one recorded frame into one 24-bit picture.
#include <cstddef>
#include <cstdint>

#include "base/Expected.h"

namespace zentrova {

// Which inverse DCT the decoder uses: the processor check, or one variant forced so that the
// output can be reproduced on any machine.
enum class IdctChoice { Auto, Plain, Vector };

struct DecodeStatus {
  int32_t failed = 0;       // no start code, refused header, or macroblock data broken off
  int32_t sizeChanged = 0;  // intra header with a new width or height
  int32_t width = 0;        // size of the picture written (after enlargement)
  int32_t height = 0;
  int32_t pictureType = 0;  // 0 or 1 intra, 2 inter
  int32_t notCoded = 0;     // inter picture without macroblock data
  int32_t delivered = 0;    // 1 when the caller's picture (or planes) were written
};

// Where DecodeFramePlanes delivers: three planes of exactly width x height (Y, stride width) and
// (width / 2) x (height / 2) (Cb and Cr, stride width / 2), top row first.
//
// With a capacity the planes take a picture of any size instead: `capacity` luminance samples
// (and a quarter of them in each chroma plane) of room, the picture written at its own size with
// its own width as the stride; width and height are then unused.
struct PlaneBuffers {
  uint8_t* y = nullptr;
  uint8_t* cb = nullptr;
  uint8_t* cr = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  size_t capacity = 0;
};

class VideoDecoder {
 public:
  VideoDecoder();
  virtual ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  // Allocates the planes of the largest picture; fails only when memory is short. `choice`
  // overrides the processor check.
  Expected<void> Initialise(uint32_t stamp, IdctChoice choice = IdctChoice::Auto);

  // Decodes one frame into `picture` (3 bytes per pixel, blue green red, plane row 0 first).
  // `pictureCapacity` is the size of the caller's buffer in bytes: a picture that would not fit
  // is refused (failed = 1) and nothing is written.
  DecodeStatus DecodeFrame(const uint8_t* bytes, uint32_t byteCount, uint8_t* picture,
                           size_t pictureCapacity, int enlargeMode = 0);

  // The same decoding, delivering the picture as planes (enlarged in the newer generation, not
  // colour-converted) into the caller's. A picture delivered at any other size than the planes'
  // is refused (failed = 1) and nothing is written. The output is left untouched exactly where
  // DecodeFrame leaves its picture untouched.
  DecodeStatus DecodeFramePlanes(const uint8_t* bytes, uint32_t byteCount, const PlaneBuffers& planes,
                                 int enlargeMode = 0);

  // The decoding alone: the frame is decoded into the decoder's own planes (the reference of the
  // next picture) and nothing is delivered, so that the caller can look at the status before it
  // decides to show the picture. Any size the planes hold is taken.
  DecodeStatus DecodeReference(const uint8_t* bytes, uint32_t byteCount, int enlargeMode = 0);
  // Delivers the current picture as planes into the caller's (enlarged in the newer generation):
  // sets delivered, width and height of `status`. Nothing is written before the first intra
  // picture, nor when the planes cannot take the picture.
  void DeliverReference(const PlaneBuffers& planes, int enlargeMode, DecodeStatus& status);

  // The most luminance samples of a picture the decoder takes (640 x 480), before and after
  // enlargement; a header announcing more is refused.
  static constexpr size_t kMaxPictureSamples = 307200;

  void ReleaseBuffers();
  // Stores the picture size and the quantisers and derives the macroblock grid; the planes are
  // neither cleared nor moved. False (nothing changed) for a size the planes cannot hold: 0,
  // odd, or more than 307,200 luminance samples.
  bool SetPictureSize(int32_t height, int32_t width, int32_t intraQuantiser, int32_t interQuantiser);

  // The reference planes at the coded size (Y width x height, Cb and Cr a quarter each), for
  // tools that must follow the decoder's reconstruction exactly.
  const uint8_t* planeY() const;
  const uint8_t* planeCb() const;
  const uint8_t* planeCr() const;
  int32_t codedWidth() const;
  int32_t codedHeight() const;
  bool usesVectorTransform() const;

 private:
  struct State;
  // Decodes up to the delivery; false when the picture is refused or has no start code. `fits`
  // says whether a picture delivered at a size may be written.
  template <typename Fits>
  bool DecodePicture(const uint8_t* bytes, uint32_t byteCount, int enlargeMode, DecodeStatus& status, Fits fits);
  void DeliverPicture(uint8_t* picture, int enlargeMode, DecodeStatus& status);
  void DeliverPlanes(const PlaneBuffers& planes, int enlargeMode, DecodeStatus& status);

  uint32_t stamp_ = 0x20020114;
  State* state_ = nullptr;
};

}  // namespace zentrova
