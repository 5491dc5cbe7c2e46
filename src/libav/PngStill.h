#pragma once
// A picture as a PNG file, through libavcodec's PNG encoder in the libav module.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Expected.h"

namespace zentrova::stills {

// `picture`: width x height pixels of 3 bytes, blue green red, its first row the bottom row (as
// an AVI frame holds it). `png` receives the file, top row first. The error says why when the
// module or its encoder cannot be had or refuses the picture.
Expected<void> EncodePng(const uint8_t* picture, int width, int height, std::vector<uint8_t>& png);

}  // namespace zentrova::stills
