#pragma once
// The flow of the 16-bit saturating-lane inverse DCT on whole registers, shared by the SSE2 code
// (one block, eight lanes) and the AVX2 code (two blocks, one in each 128-bit half). `Lanes`
// names the instructions of one width; every one used works within a 128-bit half, so each half
// of an AVX2 register gives the SSE2 code's bits for its own block. The exact 32-bit products
// and their wrapping sums come from PMADDWD on interleaved pairs: with our multipliers (none is
// -32768) each pair sum is exact in 32 bits, and the later PADDD/PSUBD wrap modulo 2^32 as the
// lane arithmetic requires.
//
// Internal linkage throughout: a file that includes this under `#pragma GCC target` gets its
// own copy built for that target, and no copy can stand in for another at link time.
#include <cstdint>

#include "video/InverseDctVectorLanes.h"

namespace zentrova {
namespace {
namespace vector_flow {

using namespace vector_idct;

// 32-bit results of first * a + second * b for lanes 0..3 (lo) and 4..7 (hi) of each half.
template <class L>
struct Wide {
  typename L::Reg lo;
  typename L::Reg hi;
};

template <class L>
inline Wide<L> MultiplyAdd(typename L::Reg a, typename L::Reg b, typename L::Reg pair) {
  return {L::Madd(L::UnpackLo16(a, b), pair), L::Madd(L::UnpackHi16(a, b), pair)};
}
template <class L>
inline Wide<L> Add(Wide<L> a, Wide<L> b) {
  return {L::Add32(a.lo, b.lo), L::Add32(a.hi, b.hi)};
}
template <class L>
inline Wide<L> Sub(Wide<L> a, Wide<L> b) {
  return {L::Sub32(a.lo, b.lo), L::Sub32(a.hi, b.hi)};
}

// Pairs for PMADDWD: lane 2i holds the first multiplier, lane 2i+1 the second.
template <class L>
inline typename L::Reg Pair(int16_t first, int16_t second) {
  return L::Splat32(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16 |
                                         static_cast<uint16_t>(first)));
}

// c = sat(sat(z >> 16) + 2): the saturating pack is exact because z >> 16 fits 16 bits.
template <class L>
inline typename L::Reg RoundOutput(Wide<L> z) {
  return L::AddSat(L::PackSigned32(L::template ShiftRight32<16>(z.lo), L::template ShiftRight32<16>(z.hi)),
                   L::Splat16(2));
}

enum class Pass { First, Second };

// x[k] holds array row k (lane j of a half = column j); the results replace it.
template <Pass pass, class L>
inline void TransformRows(typename L::Reg* x) {
  using Reg = typename L::Reg;
  if constexpr (pass == Pass::First) {
    x[0] = L::template ShiftLeft<2>(x[0]);
    x[1] = L::template ShiftLeft<2>(x[1]);
    x[2] = L::template ShiftLeft<2>(x[2]);
    x[4] = L::template ShiftLeft<2>(x[4]);
    x[6] = L::template ShiftLeft<2>(x[6]);
    x[7] = L::template ShiftLeft<2>(x[7]);
    x[3] = L::template ShiftLeft<4>(x[3]);
    x[5] = L::template ShiftLeft<4>(x[5]);
  } else {
    x[3] = L::template ShiftLeft<2>(x[3]);
    x[5] = L::template ShiftLeft<2>(x[5]);
  }

  // Even part. s and q share one interleave: (s, q) . (K4, 0) and (s, q) . (0, K4).
  const Reg s = L::AddSat(x[0], x[4]);
  const Reg q = L::SubSat(x[0], x[4]);
  const Wide<L> sk = MultiplyAdd<L>(s, q, Pair<L>(kCos4, 0));
  const Wide<L> qk = MultiplyAdd<L>(s, q, Pair<L>(0, kCos4));
  const Wide<L> m = MultiplyAdd<L>(x[2], x[6], Pair<L>(kCos2, kSin2));
  const Wide<L> a = MultiplyAdd<L>(x[2], x[6], Pair<L>(kSin2, static_cast<int16_t>(-kCos2)));
  const Wide<L> e0 = Add(sk, m);
  const Wide<L> e3 = Sub(sk, m);
  const Wide<L> e1 = Add(qk, a);
  const Wide<L> e2 = Sub(qk, a);

  // Odd part: the cos(pi/4) products keep their high half only.
  const Reg one = L::Splat16(1);
  const Reg cos4 = L::Splat16(kCos4);
  const Reg g = L::template ShiftRight16<1>(L::AddSat(L::MulHigh(L::AddSat(x[3], x[5]), cos4), one));
  const Reg h = L::template ShiftRight16<1>(L::AddSat(L::MulHigh(L::SubSat(x[3], x[5]), cos4), one));
  const Reg p = L::AddSat(x[1], g);
  const Reg n = L::SubSat(x[1], g);
  const Reg r = L::AddSat(x[7], h);
  const Reg k = L::SubSat(x[7], h);
  const Wide<L> v = MultiplyAdd<L>(p, r, Pair<L>(kCos1, kSin1));
  const Wide<L> w = MultiplyAdd<L>(p, r, Pair<L>(kSin1, static_cast<int16_t>(-kCos1)));
  const Wide<L> d = MultiplyAdd<L>(n, k, Pair<L>(kCos3, static_cast<int16_t>(-kSin3)));
  const Wide<L> f = MultiplyAdd<L>(n, k, Pair<L>(kSin3, kCos3));

  const Reg c[8] = {
      RoundOutput(Add(e0, v)), RoundOutput(Add(e1, d)), RoundOutput(Add(e2, f)), RoundOutput(Add(e3, w)),
      RoundOutput(Sub(e3, w)), RoundOutput(Sub(e2, f)), RoundOutput(Sub(e1, d)), RoundOutput(Sub(e0, v)),
  };
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) {
    if constexpr (pass == Pass::First) {
      x[i] = L::And(c[i], L::Splat16(static_cast<int16_t>(0xFFFC)));
    } else {
      x[i] = L::template ShiftRight16<2>(c[i]);
    }
  }
}

// 8x8 transposition of 16-bit values held as eight rows (in each half separately).
template <class L>
inline void Transpose(typename L::Reg* x) {
  using Reg = typename L::Reg;
  const Reg a0 = L::UnpackLo16(x[0], x[1]);
  const Reg a1 = L::UnpackHi16(x[0], x[1]);
  const Reg a2 = L::UnpackLo16(x[2], x[3]);
  const Reg a3 = L::UnpackHi16(x[2], x[3]);
  const Reg a4 = L::UnpackLo16(x[4], x[5]);
  const Reg a5 = L::UnpackHi16(x[4], x[5]);
  const Reg a6 = L::UnpackLo16(x[6], x[7]);
  const Reg a7 = L::UnpackHi16(x[6], x[7]);

  const Reg b0 = L::UnpackLo32(a0, a2);
  const Reg b1 = L::UnpackHi32(a0, a2);
  const Reg b2 = L::UnpackLo32(a1, a3);
  const Reg b3 = L::UnpackHi32(a1, a3);
  const Reg b4 = L::UnpackLo32(a4, a6);
  const Reg b5 = L::UnpackHi32(a4, a6);
  const Reg b6 = L::UnpackLo32(a5, a7);
  const Reg b7 = L::UnpackHi32(a5, a7);

  x[0] = L::UnpackLo64(b0, b4);
  x[1] = L::UnpackHi64(b0, b4);
  x[2] = L::UnpackLo64(b1, b5);
  x[3] = L::UnpackHi64(b1, b5);
  x[4] = L::UnpackLo64(b2, b6);
  x[5] = L::UnpackHi64(b2, b6);
  x[6] = L::UnpackLo64(b3, b7);
  x[7] = L::UnpackHi64(b3, b7);
}

// Both passes on x[k] = natural column k (lane j of a half = row j); x[k] then holds sample row k.
template <class L>
inline void TransformColumns(typename L::Reg* x) {
  TransformRows<Pass::First, L>(x);
  Transpose<L>(x);
  TransformRows<Pass::Second, L>(x);
}

}  // namespace vector_flow
}  // namespace
}  // namespace zentrova
