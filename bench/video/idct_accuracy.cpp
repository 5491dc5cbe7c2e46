// Accuracy report of the fixed-point inverse DCTs against a double-precision inverse DCT, in the
// manner of IEEE Std 1180-1990: random 8x8 pixel blocks in [-L, H] (and their negatives) are
// transformed forward in double precision, rounded to integer coefficients and clipped to
// -2048..2047; the double-precision inverse of those coefficients, rounded and clipped to
// -256..255, is the reference for the fixed-point inverse, clipped the same way. Prints the
// measures and the limits IEEE 1180 sets for them; asserts nothing.
//
// Usage: idct_accuracy [blocks per run, default 10000]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>

#include "video/InverseDct.h"

namespace {

using zentrova::ZigzagTable;

// The pseudo-random generator of IEEE 1180, with its 32-bit state wrapping explicitly.
class Ieee1180Random {
 public:
  long Next(long low, long high) {
    state_ = state_ * 1103515245u + 12345u;
    const double x = static_cast<double>(state_ & 0x7ffffffeu) / 2147483647.0 * static_cast<double>(low + high + 1);
    return static_cast<long>(x) - low;
  }

 private:
  uint32_t state_ = 1;
};

// Basis c[u][x] = C(u) / 2 * cos((2x + 1) u pi / 16), C(0) = 1 / sqrt(2): orthonormal 8-point DCT.
std::array<std::array<double, 8>, 8> Basis() {
  std::array<std::array<double, 8>, 8> c{};
  for (int u = 0; u < 8; ++u)
    for (int x = 0; x < 8; ++x)
      c[u][x] = (u == 0 ? std::numbers::sqrt2 / 4.0 : 0.5) * std::cos((2 * x + 1) * u * std::numbers::pi / 16.0);
  return c;
}
const auto kBasis = Basis();

using Doubles = std::array<double, 64>;

Doubles ForwardDct(const Doubles& f) {
  Doubles out{};
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) s += kBasis[v][y] * kBasis[u][x] * f[8 * y + x];
      out[8 * v + u] = s;
    }
  return out;
}

Doubles InverseDct(const Doubles& F) {
  Doubles out{};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) s += kBasis[v][y] * kBasis[u][x] * F[8 * v + u];
      out[8 * y + x] = s;
    }
  return out;
}

long Clip(long v, long low, long high) { return std::clamp(v, low, high); }

struct Measures {
  std::array<double, 64> sumError{};
  std::array<double, 64> sumSquare{};
  long peak = 0;
  long blocks = 0;
};

using Transform = void (*)(const int16_t*, int16_t*);

Measures Run(Transform transform, long blocks, long low, long high, int sign) {
  Ieee1180Random random;
  Measures m;
  m.blocks = blocks;
  for (long b = 0; b < blocks; ++b) {
    Doubles pixels;
    for (double& p : pixels) p = static_cast<double>(sign * random.Next(low, high));
    const Doubles forward = ForwardDct(pixels);

    Doubles rounded;
    int16_t transmitted[64];
    for (int p = 0; p < 64; ++p) {
      const long c = Clip(std::lround(std::floor(forward[p] + 0.5)), -2048, 2047);
      rounded[p] = static_cast<double>(c);
      transmitted[ZigzagTable[p]] = static_cast<int16_t>(c);
    }
    const Doubles reference = InverseDct(rounded);
    int16_t samples[64];
    transform(transmitted, samples);

    for (int p = 0; p < 64; ++p) {
      const long expected = Clip(std::lround(std::floor(reference[p] + 0.5)), -256, 255);
      const long error = Clip(samples[p], -256, 255) - expected;
      m.sumError[p] += static_cast<double>(error);
      m.sumSquare[p] += static_cast<double>(error * error);
      m.peak = std::max(m.peak, std::labs(error));
    }
  }
  return m;
}

void Report(const char* name, const Measures& m, bool table) {
  const double n = static_cast<double>(m.blocks);
  double worstMse = 0, worstMean = 0, totalSquare = 0, totalError = 0;
  for (int p = 0; p < 64; ++p) {
    worstMse = std::max(worstMse, m.sumSquare[p] / n);
    worstMean = std::max(worstMean, std::fabs(m.sumError[p] / n));
    totalSquare += m.sumSquare[p];
    totalError += m.sumError[p];
  }
  std::printf("  %-7s peak %ld (<= 1)  worst position mse %.4f (<= 0.06)  overall mse %.4f (<= 0.02)\n", name,
              m.peak, worstMse, totalSquare / (64 * n));
  std::printf("  %-7s worst position mean error %.4f (<= 0.015)  overall mean error %.5f (<= 0.0015)\n", "",
              worstMean, totalError / (64 * n));
  if (!table) return;
  std::printf("  %-7s mean square error per position:\n", "");
  for (int y = 0; y < 8; ++y) {
    std::printf("          ");
    for (int x = 0; x < 8; ++x) std::printf(" %.4f", m.sumSquare[8 * y + x] / n);
    std::printf("\n");
  }
}

bool ZeroInZeroOut(Transform transform) {
  const int16_t zeros[64] = {};
  int16_t out[64];
  transform(zeros, out);
  return std::all_of(out, out + 64, [](int16_t v) { return v == 0; });
}

}  // namespace

int main(int argc, char** argv) {
  const long blocks = argc > 1 ? std::max(1L, std::atol(argv[1])) : 10000;
  struct Range {
    long low, high;
  };
  const Range ranges[] = {{256, 255}, {5, 5}, {300, 300}};
  std::printf("Inverse DCT accuracy against double precision, IEEE 1180 manner, %ld blocks per run\n", blocks);
  for (const Range& r : ranges) {
    for (int sign : {1, -1}) {
      std::printf("\nL = %ld, H = %ld, sign %+d\n", r.low, r.high, sign);
      Report("plain", Run(zentrova::InverseDct, blocks, r.low, r.high, sign), r.low == 256 && sign == 1);
      Report("vector", Run(zentrova::InverseDctVectorScalar, blocks, r.low, r.high, sign), false);
    }
  }
  std::printf("\nall-zero block gives all zeros: plain %s, vector %s\n", ZeroInZeroOut(zentrova::InverseDct) ? "yes" : "no",
              ZeroInZeroOut(zentrova::InverseDctVectorScalar) ? "yes" : "no");
  return 0;
}
