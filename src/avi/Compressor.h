#pragma once
// The video compressors a conversion can choose from, and the compressed stream they make.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviFile.h"

namespace zentrova::avi {

struct CompressorInfo {
  std::string name;         // "raw", "mjpeg", "mpeg4", "h264", "ffv1"
  std::string description;  // "Full Frames (Uncompressed)", ...
  bool available = false;   // whether this machine's libraries provide it
};

struct CompressOptions {
  std::string codec = "mpeg4";
  int quality = 90;  // 0 (smallest) .. 100 (best)
  // Threads the encoder may use; 0 lets it choose. mpeg4, mjpeg and ffv1 code the same bytes
  // whatever the count (H.264 too, unless its lanes cannot be had: x264 then cuts one slice per
  // thread).
  unsigned threads = 0;
};

// A picture as 4:2:0 planes, the decoder's own (full range, chroma centred on 127.5), rows in the
// order of the 24-bit frames the stream otherwise takes: the first row is the bottom row of the
// picture. Y is width x rows samples, Cb and Cr (width / 2) x (rows / 2); strides in bytes. With
// `doubled` the picture is 2 x rows high: the stream line-doubles luma as the 24-bit frames are
// (row 2r + 1 the rounded-down average of rows r and r + 1, the last row copied) and gives chroma
// the rows such a frame's own 4:2:0 chroma has (video/PlaneRows.h, RowDoubling).
struct PlanarPicture {
  const uint8_t* plane[3] = {nullptr, nullptr, nullptr};
  int32_t stride[3] = {0, 0, 0};
  int32_t width = 0;
  int32_t rows = 0;
  bool doubled = false;
};

// Offered by compressed streams whose encoder codes 4:2:0: they take the planes without the
// detour through 24-bit pictures. Same rules as OutputStream::Write for one frame at `start`.
class PlanarInput {
 public:
  virtual ~PlanarInput() = default;
  virtual bool AcceptsPlanes() const = 0;
  virtual Expected<void> WritePlanes(int32_t start, const PlanarPicture& picture, uint32_t flags) = 0;
};

// The stream's planar input, or null when it takes 24-bit pictures only (raw, ffv1).
PlanarInput* PlanarInputOf(OutputStream* stream);

// The choice offered by default where the user has not picked one.
inline constexpr const char* kDefaultCodec = "mpeg4";

std::vector<CompressorInfo> ListCompressors();
// Their names alone, without loading the libraries that provide them.
std::vector<std::string> CompressorNames();

// Makes a stream that compresses every picture written to it with the chosen compressor and
// hands the result to `source`'s file; refused for a compressor that is unknown or that this
// machine's libraries do not provide. The uncompressed video format is given to the compressed
// stream with SetFormat; a compressor that cannot take it refuses there.
Expected<std::shared_ptr<OutputStream>> MakeCompressedStream(const std::shared_ptr<OutputStream>& source,
                                                             const CompressOptions& options);

}  // namespace zentrova::avi
