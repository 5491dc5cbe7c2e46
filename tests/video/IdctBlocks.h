#pragma once
// Coefficient blocks for the inverse DCT tests: hand-placed single coefficients and random
// draws weighted towards the values that make the lane arithmetic saturate or wrap.
#include <array>
#include <cstdint>
#include <random>

namespace zentrova::testing {

using Block = std::array<int16_t, 64>;

// A block with one coefficient at transmission index `index`.
inline Block SingleCoefficient(int index, int16_t value) {
  Block b{};
  b[index] = value;
  return b;
}

// Random blocks of several kinds, chosen by weight on every draw.
class BlockSource {
 public:
  explicit BlockSource(uint32_t seed) : rng_(seed) {}

  // Anything: extremes, sparse extremes, saturating sums, full 16-bit noise, ordinary blocks.
  Block Any() {
    switch (Pick(11)) {
      case 0: return FullRange();
      case 10: return SingleCoefficient(Pick(4) == 0 ? Uniform(0, 63) : 0, static_cast<int16_t>(Uniform(-32768, 32767)));
      case 1: case 2: return Extremes();
      case 3: case 4: return SparseExtremes();
      case 5: return SameSign();
      case 6: return NominalRange();
      default: return Ordinary();
    }
  }

  // Blocks like those of real pictures: a DC term and a few small, mostly low-frequency terms.
  Block Ordinary() {
    Block b{};
    b[0] = static_cast<int16_t>(8 * Uniform(1, 254));
    const int terms = Uniform(0, 12);
    for (int i = 0; i < terms; ++i) {
      const int index = std::min(63, static_cast<int>(std::abs(Normal(0.0, 12.0))));
      b[index] = static_cast<int16_t>(Normal(0.0, 60.0));
    }
    return b;
  }

  // Every coefficient anywhere in the range the stream can carry, -2048..2047.
  Block NominalRange() {
    Block b{};
    const int terms = Uniform(1, 64);
    for (int i = 0; i < terms; ++i) b[Uniform(0, 63)] = static_cast<int16_t>(Uniform(-2048, 2047));
    return b;
  }

  Block FullRange() {
    Block b{};
    for (auto& v : b) v = static_cast<int16_t>(Uniform(-32768, 32767));
    return b;
  }

  // Each coefficient drawn from the edges of the 12-bit and 16-bit ranges or zero.
  Block Extremes() {
    Block b{};
    for (auto& v : b) v = ExtremeValue();
    return b;
  }

  Block SparseExtremes() {
    Block b{};
    const int terms = Uniform(1, 4);
    for (int i = 0; i < terms; ++i) b[Uniform(0, 63)] = ExtremeValue();
    return b;
  }

  // Many large coefficients of one sign, so that the lane sums saturate.
  Block SameSign() {
    Block b{};
    const int sign = Pick(2) == 0 ? 1 : -1;
    const int limit = Pick(2) == 0 ? 2048 : 32767;
    for (auto& v : b) {
      if (Pick(4) != 0) v = static_cast<int16_t>(sign * Uniform(limit / 2, limit));
    }
    return b;
  }

 private:
  int16_t ExtremeValue() {
    static constexpr int16_t kValues[] = {0, 0, 0, 2047, -2048, 2048, -2047, 32767, -32768, -32767, 16384, -16384,
                                          8191, -8192, 1, -1};
    if (Pick(5) == 0) return static_cast<int16_t>(Uniform(-32768, 32767));
    return kValues[Pick(sizeof kValues / sizeof kValues[0])];
  }

  int Pick(int n) { return Uniform(0, n - 1); }
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  double Normal(double mean, double sd) { return std::normal_distribution<double>(mean, sd)(rng_); }

  std::mt19937 rng_;
};

}  // namespace zentrova::testing
