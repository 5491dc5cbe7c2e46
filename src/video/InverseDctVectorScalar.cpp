// Scalar emulation of the 16-bit saturating-lane inverse DCT, one lane (one array column) at a
// time. It reproduces the lane arithmetic bit for bit and is the reference the SIMD code must
// match on every input:
//   - 16-bit additions and subtractions saturate to -32768..32767;
//   - 16-bit left shifts wrap;
//   - products of two 16-bit values are exact in 32 bits, their sums wrap modulo 2^32;
//   - the two cos(pi/4) products of the odd part keep only their high 16 bits;
//   - every output is c = sat(sat(z >> 16) + 2); pass 1 keeps c & 0xFFFC (four times the
//     result), pass 2 keeps c >> 2.
#include "video/InverseDct.h"
#include "video/InverseDctVectorLanes.h"

namespace zentrova {
namespace {

using namespace vector_idct;

inline int16_t Saturate(int32_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}
inline int16_t AddSat(int16_t a, int16_t b) { return Saturate(int32_t{a} + b); }
inline int16_t SubSat(int16_t a, int16_t b) { return Saturate(int32_t{a} - b); }
// Left shift of a 16-bit lane: the bits shifted out are lost.
inline int16_t ShiftLeft(int16_t a, int bits) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a) << bits));
}
// Exact 32-bit product, carried as uint32 so that the sums of products wrap.
inline uint32_t Product(int16_t a, int16_t b) { return static_cast<uint32_t>(int32_t{a} * int32_t{b}); }
// High half of the 32-bit product.
inline int16_t ProductHigh(int16_t a, int16_t b) { return static_cast<int16_t>((int32_t{a} * int32_t{b}) >> 16); }
// c = sat(sat(z >> 16) + 2); z >> 16 of a 32-bit value always fits 16 bits.
inline int16_t RoundOutput(uint32_t z) {
  return AddSat(static_cast<int16_t>(static_cast<int32_t>(z) >> 16), 2);
}

enum class Pass { First, Second };

// One lane: x[0], x[8], ... x[56] in, results written back in place.
void TransformLane(int16_t* lane, Pass pass) {
  int16_t x[8];
  for (int k = 0; k < 8; ++k) x[k] = lane[8 * k];

  if (pass == Pass::First) {
    for (int k : {0, 1, 2, 4, 6, 7}) x[k] = ShiftLeft(x[k], 2);
    x[3] = ShiftLeft(x[3], 4);
    x[5] = ShiftLeft(x[5], 4);
  } else {
    x[3] = ShiftLeft(x[3], 2);
    x[5] = ShiftLeft(x[5], 2);
  }

  // Even part.
  const int16_t s = AddSat(x[0], x[4]);
  const int16_t q = SubSat(x[0], x[4]);
  const uint32_t m = Product(kCos2, x[2]) + Product(kSin2, x[6]);
  const uint32_t a = Product(kSin2, x[2]) - Product(kCos2, x[6]);
  const uint32_t e0 = Product(kCos4, s) + m;
  const uint32_t e3 = Product(kCos4, s) - m;
  const uint32_t e1 = Product(kCos4, q) + a;
  const uint32_t e2 = Product(kCos4, q) - a;

  // Odd part.
  const int16_t g = static_cast<int16_t>(AddSat(ProductHigh(kCos4, AddSat(x[3], x[5])), 1) >> 1);
  const int16_t h = static_cast<int16_t>(AddSat(ProductHigh(kCos4, SubSat(x[3], x[5])), 1) >> 1);
  const int16_t p = AddSat(x[1], g);
  const int16_t n = SubSat(x[1], g);
  const int16_t r = AddSat(x[7], h);
  const int16_t k = SubSat(x[7], h);
  const uint32_t v = Product(kCos1, p) + Product(kSin1, r);
  const uint32_t w = Product(kSin1, p) - Product(kCos1, r);
  const uint32_t d = Product(kCos3, n) - Product(kSin3, k);
  const uint32_t f = Product(kSin3, n) + Product(kCos3, k);

  const int16_t c[8] = {
      RoundOutput(e0 + v), RoundOutput(e1 + d), RoundOutput(e2 + f), RoundOutput(e3 + w),
      RoundOutput(e3 - w), RoundOutput(e2 - f), RoundOutput(e1 - d), RoundOutput(e0 - v),
  };
  for (int i = 0; i < 8; ++i) {
    lane[8 * i] = pass == Pass::First ? static_cast<int16_t>(static_cast<uint16_t>(c[i]) & 0xFFFCu)
                                      : static_cast<int16_t>(c[i] >> 2);
  }
}

void Transpose(int16_t* block) {
  for (int r = 0; r < 8; ++r) {
    for (int c = r + 1; c < 8; ++c) {
      const int16_t t = block[8 * r + c];
      block[8 * r + c] = block[8 * c + r];
      block[8 * c + r] = t;
    }
  }
}

}  // namespace

void InverseDctVectorScalar(const int16_t* coefficients, int16_t* samples) {
  for (int i = 0; i < 64; ++i) samples[i] = coefficients[kTransposedZigzag[i]];
  for (int lane = 0; lane < 8; ++lane) TransformLane(samples + lane, Pass::First);
  Transpose(samples);
  for (int lane = 0; lane < 8; ++lane) TransformLane(samples + lane, Pass::Second);
}

}  // namespace zentrova
