#include "audio/G726State.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "audio/G726Tables.h"

// The blocks below follow the standard's integer formulation and must stay bit-exact: every
// value the standard holds in 16 bits is brought back to 16-bit two's complement at the point
// where the standard keeps it, and wraps there (no saturation). The wrap goes through unsigned
// arithmetic; the intermediate sums live in int and never approach its limits.

namespace zentrova::g726 {
namespace {

// Keeps the low 16 bits of v as a two's-complement value.
int16_t Wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v))); }

// The number of the powers of two 1, 2, 4 .. 16384 that are not above v: its bit length, at most 15.
int Exp(int v) {
  if (v <= 0) return 0;
  return std::min(static_cast<int>(std::bit_width(static_cast<unsigned>(v))), 15);
}

// A magnitude in the 4-bit exponent, 6-bit mantissa form of DQk and SRk.
int FloatForm(int magnitude) {
  const int e = Exp(magnitude);
  return (e << 6) + ((magnitude << 6) >> e);
}

// FMULT: a predictor coefficient (already >> 2) times a signal in floating form.
int Fmult(int an, int srn) {
  const int m = an > 0 ? an : (-an) & 0x1FFF;
  const int e = Exp(m) - 6;
  const int mant = m == 0 ? 32 : (e >= 0 ? m >> e : m << -e);
  const int we = e + ((srn >> 6) & 15) - 13;
  const int wm = (mant * (srn & 63) + 48) >> 4;
  const int r = we >= 0 ? (wm << we) & 0x7FFF : wm >> -we;
  return (an ^ srn) < 0 ? -r : r;
}

struct Estimate {
  int16_t sez;  // zero-predictor part of the estimate
  int16_t se;   // signal estimate
};

// The six-zero and two-pole predictor. SEZI and SEI are 16-bit sums and wrap.
Estimate Predict(const G726State& s) {
  int32_t zeros = 0;
  for (int k = 0; k < 6; ++k) zeros += Fmult(s.b[k] >> 2, s.dq[k]);
  const int16_t sezi = Wrap16(zeros);
  const int16_t sei = Wrap16(int32_t{sezi} + Fmult(s.a[1] >> 2, s.sr[1]) + Fmult(s.a[0] >> 2, s.sr[0]));
  return {static_cast<int16_t>(sezi >> 1), static_cast<int16_t>(sei >> 1)};
}

// The quantiser scale factor Y: YU alone in fast mode (AP >= 256), else YL mixed towards YU by AP.
int ScaleFactor(const G726State& s) {
  if (s.ap >= 256) return s.yu;
  int y = s.yl >> 6;
  const int d = s.yu - y;
  const int l = s.ap >> 2;
  if (d > 0) y += (d * l) >> 6;
  if (d < 0) y += (d * l + 63) >> 6;
  return y;
}

// Inverse quantiser: the code's log magnitude scaled by Y back to a linear difference DQ, sign in bit 15.
int16_t Reconstruct(bool negative, int dqln, int y) {
  const int16_t l = Wrap16(dqln + (y >> 2));
  if (l < 0) return negative ? int16_t{-32768} : int16_t{0};
  // Y stays within 544..5120, so l < 1920 and e <= 14; the other branch only keeps the shift defined.
  const int e = (l >> 7) & 15;
  const int m = (128 + (l & 127)) << 7;
  const int q = e <= 14 ? m >> (14 - e) : m << (e - 14);
  return Wrap16(negative ? q - 32768 : q);
}

// Quantiser: the normalised log of |d| against the decision levels. A magnitude index of 0 is sent
// as code 7 whatever the sign, so code 0 never leaves an encoder.
uint8_t Quantize(int d, int y) {
  const int magnitude = std::abs(d);
  const int e = Exp(magnitude >> 1);
  const int dl = (e << 7) + (((magnitude << 7) >> e) & 0x7F);
  const int dln = dl - (y >> 2);
  int i = 0;
  while (i < 3 && dln >= kDecisionLevels[i]) ++i;
  if (d < 0) return static_cast<uint8_t>(7 - i);
  return static_cast<uint8_t>(i == 0 ? 7 : i);
}

// Tone and transition detector: a large difference while a tone was detected.
bool IsTransition(const G726State& s, int magnitude) {
  const int ylint = s.yl >> 15;
  const int ylfrac = (s.yl >> 10) & 31;
  const int threshold = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
  return s.td != 0 && magnitude > (threshold + (threshold >> 1)) >> 1;
}

void AdaptScaleFactor(G726State& s, int y, int wi) {
  s.yu = static_cast<int16_t>(std::clamp(y + ((wi - y) >> 5), 544, 5120));
  s.yl = s.yl + s.yu + ((-s.yl) >> 6);
}

void AdaptPoles(G726State& s, bool pk0, int16_t dqsez) {
  const bool pks1 = pk0 != (s.pk[0] != 0);
  int a2 = s.a[1] - (s.a[1] >> 7);
  if (dqsez != 0) {
    const int f = pks1 ? s.a[0] : -s.a[0];
    a2 += f < -8191 ? -256 : (f > 8191 ? 255 : f >> 5);
    if (pk0 == (s.pk[1] != 0))
      a2 = a2 <= -12416 ? -12288 : (a2 >= 12160 ? 12288 : a2 + 128);
    else
      a2 = a2 <= -12160 ? -12288 : (a2 >= 12416 ? 12288 : a2 - 128);
  }
  s.a[1] = static_cast<int16_t>(a2);

  int a1 = s.a[0] - (s.a[0] >> 8);
  if (dqsez != 0) a1 += pks1 ? -192 : 192;
  const int limit = 15360 - a2;
  s.a[0] = static_cast<int16_t>(std::clamp(a1, -limit, limit));
}

// The zeros drift towards 32768 under a long run of same-signed differences and wrap there.
void AdaptZeros(G726State& s, int16_t dq, int magnitude) {
  for (int k = 0; k < 6; ++k) {
    int bk = s.b[k] - (s.b[k] >> 8);
    if (magnitude != 0) bk += (dq ^ s.dq[k]) >= 0 ? 128 : -128;
    s.b[k] = Wrap16(bk);
  }
}

void ShiftHistory(G726State& s, int16_t dq, int magnitude, int16_t sr, bool pk0) {
  for (int k = 5; k > 0; --k) s.dq[k] = s.dq[k - 1];
  const int dqForm = magnitude == 0 ? 32 : FloatForm(magnitude);
  s.dq[0] = Wrap16(dq < 0 ? dqForm - 1024 : dqForm);

  s.sr[1] = s.sr[0];
  if (sr == 0) s.sr[0] = 32;
  else if (sr > 0) s.sr[0] = static_cast<int16_t>(FloatForm(sr));
  else if (sr > -32768) s.sr[0] = static_cast<int16_t>(FloatForm(-sr) - 1024);
  else s.sr[0] = Wrap16(0xFC20);

  s.pk[1] = s.pk[0];
  s.pk[0] = pk0 ? 1 : 0;
}

void AdaptSpeed(G726State& s, int y, int fi, bool transition) {
  s.dms = static_cast<int16_t>(s.dms + ((fi - s.dms) >> 5));
  s.dml = static_cast<int16_t>(s.dml + ((4 * fi - s.dml) >> 7));
  if (transition) {
    s.ap = 256;
    return;
  }
  const bool fast = y < 1536 || s.td == 1 || std::abs(4 * s.dms - s.dml) >= (s.dml >> 3);
  s.ap = static_cast<int16_t>(s.ap + (fast ? (512 - s.ap) >> 4 : (-s.ap) >> 4));
}

// The state update after one sample, in the standard's order.
void Adapt(G726State& s, unsigned code, int y, int16_t dq, int16_t sr, int16_t dqsez) {
  const bool pk0 = dqsez < 0;
  const int magnitude = dq & 0x7FFF;
  const bool transition = IsTransition(s, magnitude);
  AdaptScaleFactor(s, y, kWi[code]);
  if (transition) {
    std::fill(std::begin(s.a), std::end(s.a), int16_t{0});
    std::fill(std::begin(s.b), std::end(s.b), int16_t{0});
  } else {
    AdaptPoles(s, pk0, dqsez);
    AdaptZeros(s, dq, magnitude);
  }
  ShiftHistory(s, dq, magnitude, sr, pk0);
  s.td = !transition && s.a[1] < -11776 ? 1 : 0;
  AdaptSpeed(s, y, kFi[code], transition);
}

// Rebuilds the signal from the estimate and the code, adapts the state, and returns SR.
int16_t ReconstructAndAdapt(unsigned code, int y, Estimate est, G726State& s) {
  const int16_t dq = Reconstruct((code & 4) != 0, kDqln[code], y);
  const int16_t sr = Wrap16(dq < 0 ? est.se - (dq & 0x3FFF) : est.se + dq);
  const int16_t dqsez = Wrap16(sr - est.se + est.sez);
  Adapt(s, code, y, dq, sr, dqsez);
  return sr;
}

}  // namespace

int16_t DecodeSample(unsigned code, G726State& state) {
  code &= 7;
  const Estimate est = Predict(state);
  const int y = ScaleFactor(state);
  return ReconstructAndAdapt(code, y, est, state);
}

uint8_t EncodeSample(int16_t sample, G726State& state) {
  const int sl = std::clamp<int>(sample, kMinSample, kMaxSample);
  const Estimate est = Predict(state);
  const int y = ScaleFactor(state);
  const uint8_t code = Quantize(sl - est.se, y);
  ReconstructAndAdapt(code, y, est, state);
  return code;
}

}  // namespace zentrova::g726
