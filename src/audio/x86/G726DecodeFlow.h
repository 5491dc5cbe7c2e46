#pragma once
// The G.726 decoder's run with the predictor in vector lanes, shared by the SSE2 and the AVX2
// kernels, which differ only in how they take the eight FMULTs (six zeros, two poles). The state
// is held in 16-bit lanes of two registers:
//
//   lane       0 .. 5      6     7
//   coefficient B1 .. B6   A1    A2
//   signal      DQ1 .. DQ6 SR1   SR2
//
// so the history shifts by one lane (SR1 becomes SR2 as DQ5 becomes DQ6) and the new DQ1 and SR1
// are put in lanes 0 and 6; the six zeros adapt lane by lane, the rest of the step is scalar code
// without data-dependent branches. The sums SEZI and SEI are taken modulo 2^16, where the standard
// keeps them.
//
// Internal linkage throughout: a file that includes this under `#pragma GCC target` gets its own
// copy built for that target, and no copy can stand in for another at link time.
#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include "audio/G726State.h"
#include "audio/G726Tables.h"

namespace zentrova {
namespace {
namespace g726_flow {

inline int16_t Wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v))); }

// The predictor's products summed: the six zeros, and the two poles.
struct PredictorSums {
  int zeros;
  int poles;
};

// A magnitude (0 to 32767) in the 4-bit exponent, 6-bit mantissa form; 0 is held as 32.
inline int FloatForm(int magnitude) {
  const int e = std::bit_width(static_cast<unsigned>(magnitude));
  const int mant = magnitude == 0 ? 32 : (magnitude << 6) >> e;
  return (e << 6) + mant;
}

// The quantiser scale factor Y: YU alone in fast mode, else YL mixed towards YU by AP, rounding
// the mix towards YL >> 6 either way.
inline int ScaleFactor(int32_t yl, int yu, int ap) {
  const int slow = yl >> 6;
  const int d = yu - slow;
  const int mixed = slow + ((d * (ap >> 2) + (d < 0 ? 63 : 0)) >> 6);
  return ap >= 256 ? yu : mixed;
}

// Inverse quantiser: DQ with the sign in bit 15.
inline int16_t Reconstruct(unsigned code, int y) {
  const int16_t l = Wrap16(g726::kDqln[code] + (y >> 2));
  const int e = (l >> 7) & 15;
  const int m = (128 + (l & 127)) << 7;
  const int q = e <= 14 ? m >> (14 - e) : m << (e - 14);
  return Wrap16((l < 0 ? 0 : q) - ((code & 4) != 0 ? 32768 : 0));
}

// The scalar part of the state, held in registers through a run.
struct Adaptive {
  int32_t yl;
  int yu, dms, dml, ap, a1, a2;
  bool pk1, pk2;
  bool td;
};

// A2 and A1 after a sample that is no transition (pk0: the sign of DQSEZ).
inline void AdaptPoles(Adaptive& s, bool pk0, bool dqsezNonZero) {
  const bool pks1 = pk0 != s.pk1;
  int a2 = s.a2 - (s.a2 >> 7);
  const int f = pks1 ? s.a1 : -s.a1;
  const int fromA1 = f < -8191 ? -256 : (f > 8191 ? 255 : f >> 5);
  const int toward = a2 + fromA1;
  const int up = toward <= -12416 ? -12288 : (toward >= 12160 ? 12288 : toward + 128);
  const int down = toward <= -12160 ? -12288 : (toward >= 12416 ? 12288 : toward - 128);
  a2 = dqsezNonZero ? (pk0 == s.pk2 ? up : down) : a2;

  int a1 = s.a1 - (s.a1 >> 8);
  if (dqsezNonZero) a1 += pks1 ? -192 : 192;
  const int limit = 15360 - a2;
  s.a1 = std::clamp(a1, -limit, limit);
  s.a2 = a2;
}

// Tone and transition detector, on YL before this sample's adaptation.
inline bool IsTransition(const Adaptive& s, int magnitude) {
  const int ylint = s.yl >> 15;
  const int ylfrac = (s.yl >> 10) & 31;
  const int threshold = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
  return magnitude > (threshold + (threshold >> 1)) >> 1;
}

// The decoder's run with the predictor's products from `Predictor::Sums`.
template <class Predictor>
inline void DecodeRunWith(const uint8_t* codes, int16_t* samples, int32_t count, G726State& state) {
  if (count <= 0) return;
  alignas(16) int16_t coefficientLanes[8] = {state.b[0], state.b[1], state.b[2], state.b[3],
                                             state.b[4], state.b[5], state.a[0], state.a[1]};
  alignas(16) int16_t signalLanes[8] = {state.dq[0], state.dq[1], state.dq[2], state.dq[3],
                                        state.dq[4], state.dq[5], state.sr[0], state.sr[1]};
  __m128i coefficients = _mm_load_si128(reinterpret_cast<const __m128i*>(coefficientLanes));
  __m128i signals = _mm_load_si128(reinterpret_cast<const __m128i*>(signalLanes));
  Adaptive s{state.yl, state.yu, state.dms, state.dml, state.ap, state.a[0], state.a[1],
             state.pk[0] != 0, state.pk[1] != 0, state.td != 0};
  const __m128i zeroLanes = _mm_set_epi16(0, 0, -1, -1, -1, -1, -1, -1);

  for (int32_t i = 0; i < count; ++i) {
    const unsigned code = codes[i] & 7u;

    // Predictor: SEZI over the zeros, SEI with the poles, each kept to 16 bits.
    const PredictorSums sums = Predictor::Sums(coefficients, signals);
    const int16_t sezi = Wrap16(sums.zeros);
    const int16_t sei = Wrap16(sezi + sums.poles);
    const int sez = sezi >> 1;
    const int se = sei >> 1;

    const int y = ScaleFactor(s.yl, s.yu, s.ap);
    const int16_t dq = Reconstruct(code, y);
    const int16_t sr = Wrap16(dq < 0 ? se - (dq & 0x3FFF) : se + dq);
    const int16_t dqsez = Wrap16(sr - se + sez);
    samples[i] = sr;

    // Adaptation, in the standard's order.
    const bool pk0 = dqsez < 0;
    const int magnitude = dq & 0x7FFF;
    // The detector is set only after a run of strong poles, so the branch is rarely taken.
    const bool transition = s.td && IsTransition(s, magnitude);
    const int wi = g726::kWi[code];
    s.yu = std::clamp(y + ((wi - y) >> 5), 544, 5120);
    s.yl = s.yl + s.yu + ((-s.yl) >> 6);

    // Each Bk decays, then steps by 128 towards the agreement of DQ's sign with DQk's.
    const __m128i disagree = _mm_srai_epi16(_mm_xor_si128(_mm_set1_epi16(dq), signals), 15);
    const __m128i step = _mm_and_si128(_mm_sub_epi16(_mm_xor_si128(_mm_set1_epi16(128), disagree), disagree),
                                       _mm_set1_epi16(magnitude != 0 ? -1 : 0));
    const __m128i zeroCoefficients =
        _mm_add_epi16(_mm_sub_epi16(coefficients, _mm_srai_epi16(coefficients, 8)), step);
    if (transition) {
      s.a1 = 0;
      s.a2 = 0;
      coefficients = _mm_setzero_si128();
    } else {
      AdaptPoles(s, pk0, dqsez != 0);
      coefficients = _mm_and_si128(zeroCoefficients, zeroLanes);
      coefficients = _mm_insert_epi16(coefficients, s.a1, 6);
      coefficients = _mm_insert_epi16(coefficients, s.a2, 7);
    }

    // DQ1 and SR1 in floating form; a reconstruction of -32768 has magnitude 0 there.
    const int dqForm = FloatForm(magnitude) - (dq < 0 ? 1024 : 0);
    const int srMagnitude = (sr < 0 ? -sr : sr) & 0x7FFF;
    const int srForm = FloatForm(srMagnitude) - (sr < 0 ? 1024 : 0);
    signals = _mm_slli_si128(signals, 2);
    signals = _mm_insert_epi16(signals, dqForm, 0);
    signals = _mm_insert_epi16(signals, srForm, 6);
    s.pk2 = s.pk1;
    s.pk1 = pk0;

    s.td = !transition && s.a2 < -11776;
    const int fi = g726::kFi[code];
    s.dms = static_cast<int16_t>(s.dms + ((fi - s.dms) >> 5));
    s.dml = static_cast<int16_t>(s.dml + ((4 * fi - s.dml) >> 7));
    const int diff = 4 * s.dms - s.dml;
    const bool fast = y < 1536 || s.td || (diff < 0 ? -diff : diff) >= (s.dml >> 3);
    const int moved = static_cast<int16_t>(s.ap + (fast ? (512 - s.ap) >> 4 : (-s.ap) >> 4));
    s.ap = transition ? 256 : moved;
  }

  _mm_store_si128(reinterpret_cast<__m128i*>(coefficientLanes), coefficients);
  _mm_store_si128(reinterpret_cast<__m128i*>(signalLanes), signals);
  std::copy(coefficientLanes, coefficientLanes + 6, state.b);
  std::copy(signalLanes, signalLanes + 6, state.dq);
  state.sr[0] = signalLanes[6];
  state.sr[1] = signalLanes[7];
  state.a[0] = static_cast<int16_t>(s.a1);
  state.a[1] = static_cast<int16_t>(s.a2);
  state.yl = s.yl;
  state.yu = static_cast<int16_t>(s.yu);
  state.dms = static_cast<int16_t>(s.dms);
  state.dml = static_cast<int16_t>(s.dml);
  state.ap = static_cast<int16_t>(s.ap);
  state.pk[0] = s.pk1 ? 1 : 0;
  state.pk[1] = s.pk2 ? 1 : 0;
  state.td = s.td ? 1 : 0;
}

}  // namespace g726_flow
}  // namespace
}  // namespace zentrova
