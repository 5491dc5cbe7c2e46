#pragma once
// A 4:2:0 picture as three 8-bit planes, row stride = width (luma) or width / 2 (chroma), row 0
// first: the layout of the decoder's planes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zentrova::zrgen {

struct Planes {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y, cb, cr;

  Planes() = default;
  Planes(int w, int h)
      : width(w), height(h), y(static_cast<size_t>(w) * h), cb(static_cast<size_t>(w / 2) * (h / 2)),
        cr(cb.size()) {}

  int chromaWidth() const { return width / 2; }
  int chromaHeight() const { return height / 2; }
  bool operator==(const Planes&) const = default;
};

// Copies raw decoder planes of the given size.
Planes PlanesFromRaw(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int height);

// Upside down: row 0 becomes the last row (all three planes).
Planes FlipVertically(const Planes& in);

// PSNR in dB of `b` against `a` over one plane's samples (99 when they are equal).
double PlanePsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace zentrova::zrgen
