#pragma once
// A finished output read back as a player decodes it: its first video stream's pictures, one
// after the other, as 24-bit BGR with the top row first (what `ffmpeg -pix_fmt bgr24` gives).
// `zentrova verify` compares them with the recording decoded again.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Expected.h"

namespace zentrova::container {

class PictureReader {
 public:
  virtual ~PictureReader() = default;
  // The next picture into `bgr` (width() x height() x 3 bytes); false at the end of the stream or
  // on an error, which error() then names.
  virtual bool Next(std::vector<uint8_t>& bgr) = 0;
  virtual int32_t width() const = 0;
  virtual int32_t height() const = 0;
  // The decoder's name: "rawvideo", "ffv1", "mpeg4", "h264", "mjpeg".
  virtual std::string codec() const = 0;
  // Empty while nothing went wrong.
  virtual std::string error() const = 0;
};

// Opens `path` through libavformat; the error says why it cannot be read or holds no video.
Expected<std::unique_ptr<PictureReader>> OpenPictureReader(const std::string& path);

// Whether a codec stores pictures without loss, so that a faithful output holds them identical.
bool IsLossless(const std::string& codec);

}  // namespace zentrova::container
