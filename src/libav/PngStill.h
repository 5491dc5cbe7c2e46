#pragma once
// A picture as a PNG file, through libavcodec's PNG encoder in the libav module.
#include <cstdint>
#include <string>
#include <vector>

namespace zentrova::stills {

// `picture`: width x height pixels of 3 bytes, blue green red, its first row the bottom row (as
// an AVI frame holds it). `png` receives the file, top row first. False with `reason` set when
// the module or its encoder cannot be had or refuses the picture.
bool EncodePng(const uint8_t* picture, int width, int height, std::vector<uint8_t>& png, std::string* reason);

}  // namespace zentrova::stills
