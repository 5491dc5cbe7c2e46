#pragma once
// The adaptive state of one G.726 coder at 24 kbit/s and the two per-sample steps that run it:
// decoding a 3-bit code into a reconstructed sample, and encoding a sample into a code. Both
// directions share the predictor, the inverse quantiser and the adaptation, so an encoder and a
// decoder fed the same codes hold the same state.
#include <cstdint>

namespace zentrova {

struct G726State {
  int32_t yl = 34816;  // slow scale factor, 19-bit
  int16_t yu = 544;    // fast scale factor
  int16_t dms = 0;     // short-term average of FI
  int16_t dml = 0;     // long-term average of FI
  int16_t ap = 0;      // speed control between YU and YL
  int16_t a[2] = {0, 0};                  // pole coefficients A1, A2
  int16_t b[6] = {0, 0, 0, 0, 0, 0};      // zero coefficients B1..B6
  int16_t pk[2] = {0, 0};                 // signs of the partial reconstruction, PK1, PK2
  int16_t dq[6] = {32, 32, 32, 32, 32, 32};  // DQ1..DQ6 in 4-bit exponent, 6-bit mantissa form
  int16_t sr[2] = {32, 32};               // SR1, SR2 in the same form
  uint8_t td = 0;                         // tone detector
};

namespace g726 {

// Lowest and highest sample that the encoder takes: the 14-bit range the decoder reconstructs.
inline constexpr int16_t kMinSample = -8192;
inline constexpr int16_t kMaxSample = 8191;

// One decoder step: the code's low 3 bits in, the reconstructed signal SR out (14-bit range in a
// 16-bit value, not scaled). The state adapts.
int16_t DecodeSample(unsigned code, G726State& state);

// One encoder step: a sample of the decoder's scale in (clamped to kMinSample..kMaxSample), its
// 3-bit code out. The state adapts exactly as a decoder's does on that code.
uint8_t EncodeSample(int16_t sample, G726State& state);

}  // namespace g726
}  // namespace zentrova
