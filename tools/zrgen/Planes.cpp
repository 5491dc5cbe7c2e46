#include "Planes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zentrova::zrgen {

Planes PlanesFromRaw(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int height) {
  Planes p(width, height);
  std::memcpy(p.y.data(), y, p.y.size());
  std::memcpy(p.cb.data(), cb, p.cb.size());
  std::memcpy(p.cr.data(), cr, p.cr.size());
  return p;
}

namespace {

void FlipPlane(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, int width, int height) {
  for (int r = 0; r < height; ++r)
    std::copy_n(in.begin() + static_cast<ptrdiff_t>(r) * width, width,
                out.begin() + static_cast<ptrdiff_t>(height - 1 - r) * width);
}

}  // namespace

Planes FlipVertically(const Planes& in) {
  Planes out(in.width, in.height);
  FlipPlane(in.y, out.y, in.width, in.height);
  FlipPlane(in.cb, out.cb, in.chromaWidth(), in.chromaHeight());
  FlipPlane(in.cr, out.cr, in.chromaWidth(), in.chromaHeight());
  return out;
}

double PlanePsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  if (n == 0) return 99.0;
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

}  // namespace zentrova::zrgen
