#pragma once
// The instructions InverseDctVectorFlow.h runs, at a register width of 128 or 256 bits: 128
// carries one block in eight lanes (SSE2), 256 two blocks, one in each 128-bit half (AVX2). Each
// operation names its instruction at both widths side by side, so the two kernels cannot drift apart: every AVX2
// instruction used here works within a 128-bit half, which is what makes each half give the SSE2
// bits for its own block.
//
// Internal linkage, as for the flow: the AVX2 file includes this inside its AVX2 region, and
// only there is the 256-bit branch instantiated.
#include <immintrin.h>

#include <cstdint>

namespace zentrova {
namespace {
namespace vector_flow {

// The register of each width (the vector types cannot themselves be template arguments: their
// may_alias attribute would be dropped).
template <int width>
struct X86Register;
template <>
struct X86Register<128> {
  using Type = __m128i;
};
template <>
struct X86Register<256> {
  using Type = __m256i;
};

template <int width>
struct X86Lanes {
  using Reg = typename X86Register<width>::Type;
  static constexpr bool kWide = width == 256;

  static Reg AddSat(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_adds_epi16(a, b);
    else return _mm_adds_epi16(a, b);
  }
  static Reg SubSat(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_subs_epi16(a, b);
    else return _mm_subs_epi16(a, b);
  }
  static Reg MulHigh(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_mulhi_epi16(a, b);
    else return _mm_mulhi_epi16(a, b);
  }
  static Reg Madd(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_madd_epi16(a, b);
    else return _mm_madd_epi16(a, b);
  }
  static Reg Add32(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_add_epi32(a, b);
    else return _mm_add_epi32(a, b);
  }
  static Reg Sub32(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_sub_epi32(a, b);
    else return _mm_sub_epi32(a, b);
  }
  static Reg And(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_and_si256(a, b);
    else return _mm_and_si128(a, b);
  }
  static Reg PackSigned32(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_packs_epi32(a, b);
    else return _mm_packs_epi32(a, b);
  }
  static Reg Splat16(int16_t v) {
    if constexpr (kWide) return _mm256_set1_epi16(v);
    else return _mm_set1_epi16(v);
  }
  static Reg Splat32(int32_t v) {
    if constexpr (kWide) return _mm256_set1_epi32(v);
    else return _mm_set1_epi32(v);
  }
  template <int bits>
  static Reg ShiftLeft(Reg a) {
    if constexpr (kWide) return _mm256_slli_epi16(a, bits);
    else return _mm_slli_epi16(a, bits);
  }
  template <int bits>
  static Reg ShiftRight16(Reg a) {
    if constexpr (kWide) return _mm256_srai_epi16(a, bits);
    else return _mm_srai_epi16(a, bits);
  }
  template <int bits>
  static Reg ShiftRight32(Reg a) {
    if constexpr (kWide) return _mm256_srai_epi32(a, bits);
    else return _mm_srai_epi32(a, bits);
  }
  // The unpacks interleave within each 128-bit half, as the transposition wants.
  static Reg UnpackLo16(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_unpacklo_epi16(a, b);
    else return _mm_unpacklo_epi16(a, b);
  }
  static Reg UnpackHi16(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_unpackhi_epi16(a, b);
    else return _mm_unpackhi_epi16(a, b);
  }
  static Reg UnpackLo32(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_unpacklo_epi32(a, b);
    else return _mm_unpacklo_epi32(a, b);
  }
  static Reg UnpackHi32(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_unpackhi_epi32(a, b);
    else return _mm_unpackhi_epi32(a, b);
  }
  static Reg UnpackLo64(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_unpacklo_epi64(a, b);
    else return _mm_unpacklo_epi64(a, b);
  }
  static Reg UnpackHi64(Reg a, Reg b) {
    if constexpr (kWide) return _mm256_unpackhi_epi64(a, b);
    else return _mm_unpackhi_epi64(a, b);
  }
};

}  // namespace vector_flow
}  // namespace
}  // namespace zentrova
