#include "ForwardDct.h"

#include <cmath>
#include <numbers>

namespace zentrova::zrgen {

namespace {

// basis[u][x] = C(u) / 2 * cos((2x + 1) u pi / 16), C(0) = 1 / sqrt(2): the orthonormal DCT-II.
struct Basis {
  double value[8][8];
  Basis() {
    for (int u = 0; u < 8; ++u) {
      const double scale = (u == 0 ? std::sqrt(0.5) : 1.0) / 2.0;
      for (int x = 0; x < 8; ++x) value[u][x] = scale * std::cos((2 * x + 1) * u * std::numbers::pi / 16.0);
    }
  }
};

const Basis& TheBasis() {
  static const Basis basis;
  return basis;
}

}  // namespace

std::array<double, 64> ForwardDct(const std::array<int, 64>& samples) {
  const Basis& b = TheBasis();
  double rows[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int x = 0; x < 8; ++x) sum += b.value[u][x] * samples[8 * y + x];
      rows[8 * y + u] = sum;
    }
  std::array<double, 64> out{};
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) sum += b.value[v][y] * rows[8 * y + u];
      out[8 * v + u] = sum;
    }
  return out;
}

}  // namespace zentrova::zrgen
