#pragma once
// The picture a file manager shows for a recording: an intra picture about a tenth into it,
// found through the block index (frames are read from the block holding it, never decoded from
// the start), at the output size of a conversion and then made small.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Expected.h"

namespace zentrova::gst {

struct Thumbnail {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bgr;  // 3 bytes a pixel, blue green red, top row first
  uint32_t frame = 0;        // the recording's frame it shows
};

// The recording's thumbnail, its longer side at most `size` pixels (a picture already smaller
// keeps its size), or why the recording cannot be read.
Expected<Thumbnail> MakeThumbnail(const std::string& recording, int32_t size);

// The frame a thumbnail shows: the intra picture at or before a tenth of the frames, the first
// frame when none comes before it. Exposed for the tests.
Expected<uint32_t> ThumbnailFrame(const std::string& recording);

// `picture` (width x height, 24-bit) made to fit in size x size by averaging the pixels each
// output pixel covers.
std::vector<uint8_t> Shrink(const std::vector<uint8_t>& picture, int32_t width, int32_t height, int32_t size,
                            int32_t* outWidth, int32_t* outHeight);

}  // namespace zentrova::gst
