// Colour conversion with AVX2, thirty-two pixels of a row pair (sixteen chroma pairs) per step:
// the same fixed-point offsets and clamping as ColourConversionLanes.h on sixteen 16-bit lanes,
// each 128-bit half carrying sixteen pixels of its own, and the 24-bit pixels assembled with the
// byte shuffles of the SSSE3 version, then put in order across the halves. Built for AVX2
// function by function; installed only where the processor has AVX2.
#include "video/x86/ColourConversion.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include <array>

#include "video/ColourConversionRows.h"

namespace zentrova {
namespace {

constexpr std::array<uint8_t, 32> ShuffleFor(int block, int channel) {
  std::array<uint8_t, 32> control{};
  for (int t = 0; t < 32; ++t) {
    const int g = 16 * block + t % 16;
    control[t] = g % 3 == channel ? static_cast<uint8_t>(g / 3) : 0x80;
  }
  return control;
}

// Shuffle controls, both halves alike: channel c of sixteen pixels into output block b (bytes
// 16b .. 16b + 15 of their 48 bytes blue, green, red, blue, ...); 0x80 clears a byte.
alignas(32) constexpr std::array<std::array<uint8_t, 32>, 9> kShuffles = {
    ShuffleFor(0, 0), ShuffleFor(0, 1), ShuffleFor(0, 2), ShuffleFor(1, 0), ShuffleFor(1, 1),
    ShuffleFor(1, 2), ShuffleFor(2, 0), ShuffleFor(2, 1), ShuffleFor(2, 2),
};

struct Offsets {
  __m256i blue, green, red;  // sixteen 16-bit lanes, one per chroma sample
};

[[gnu::target("avx2")]] inline __m256i Pair(int16_t first, int16_t second) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16 |
                                                static_cast<uint16_t>(first)));
}

// PMADDWD on (a, b) pairs of all sixteen lanes, shifted and narrowed back to sixteen lanes in
// their original order (the unpack and the pack both work within 128-bit halves).
template <int shift>
[[gnu::target("avx2")]] inline __m256i MultiplyAddNarrow(__m256i a, __m256i b, __m256i weights, __m256i bias) {
  const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights), bias);
  const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights), bias);
  return _mm256_packs_epi32(_mm256_srai_epi32(lo, shift), _mm256_srai_epi32(hi, shift));
}

// blue (3629 k + 2048) >> 12, red (11485 k + 8192) >> 14, green (32768 - 11277 kb - 23401 kr) >> 16,
// with k = 2i - 255: equal to the tables on all 256 inputs.
[[gnu::target("avx2")]] inline Offsets OffsetsOf(const uint8_t* cb, const uint8_t* cr) {
  const __m256i bias = _mm256_set1_epi16(255);
  const __m256i cbWide = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb)));
  const __m256i crWide = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr)));
  const __m256i kb = _mm256_sub_epi16(_mm256_add_epi16(cbWide, cbWide), bias);
  const __m256i kr = _mm256_sub_epi16(_mm256_add_epi16(crWide, crWide), bias);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi16(1);
  Offsets o;
  o.blue = MultiplyAddNarrow<12>(kb, one, Pair(3629, 2048), zero);
  o.red = MultiplyAddNarrow<14>(kr, one, Pair(11485, 8192), zero);
  o.green = MultiplyAddNarrow<16>(kb, kr, Pair(-11277, -23401), _mm256_set1_epi32(32768));
  return o;
}

// Luma plus one offset per pixel pair, clamped by the unsigned saturating pack. Within each half:
// lumaLo holds pixels 0..7 and lumaHi pixels 8..15 of that half's sixteen.
[[gnu::target("avx2")]] inline __m256i Channel(__m256i lumaLo, __m256i lumaHi, __m256i offset) {
  const __m256i lo = _mm256_add_epi16(lumaLo, _mm256_unpacklo_epi16(offset, offset));
  const __m256i hi = _mm256_add_epi16(lumaHi, _mm256_unpackhi_epi16(offset, offset));
  return _mm256_packus_epi16(lo, hi);
}

[[gnu::target("avx2")]] inline __m256i Control(int block, int channel) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(kShuffles[3 * block + channel].data()));
}

[[gnu::target("avx2")]] inline __m256i Block(int block, __m256i blue, __m256i green, __m256i red) {
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_shuffle_epi8(blue, Control(block, 0)), _mm256_shuffle_epi8(green, Control(block, 1))),
      _mm256_shuffle_epi8(red, Control(block, 2)));
}

template <bool streamed>
[[gnu::target("avx2")]] inline void Store(uint8_t* out, __m256i bytes) {
  if constexpr (streamed)
    _mm256_stream_si256(reinterpret_cast<__m256i*>(out), bytes);
  else
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
}

template <bool streamed>
[[gnu::target("avx2")]] inline void ConvertThirtyTwo(uint8_t* out, const uint8_t* luma, const Offsets& o) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma));
  const __m256i yLo = _mm256_unpacklo_epi8(y, zero);
  const __m256i yHi = _mm256_unpackhi_epi8(y, zero);
  const __m256i blue = Channel(yLo, yHi, o.blue);
  const __m256i green = Channel(yLo, yHi, o.green);
  const __m256i red = Channel(yLo, yHi, o.red);
  // Block b holds output block b of pixels 0..15 in its low half and of pixels 16..31 in its high.
  const __m256i b0 = Block(0, blue, green, red);
  const __m256i b1 = Block(1, blue, green, red);
  const __m256i b2 = Block(2, blue, green, red);
  Store<streamed>(out, _mm256_permute2x128_si256(b0, b1, 0x20));
  Store<streamed>(out + 32, _mm256_permute2x128_si256(b2, b0, 0x30));
  Store<streamed>(out + 64, _mm256_permute2x128_si256(b1, b2, 0x31));
}

template <bool streamed>
[[gnu::target("avx2")]] void ConvertRowPairAvx2(uint8_t* out0, uint8_t* out1, const uint8_t* y0, const uint8_t* y1,
                                               const uint8_t* cb, const uint8_t* cr, int32_t chromaWidth) {
  int32_t j = 0;
  for (; j + 16 <= chromaWidth; j += 16) {
    const Offsets o = OffsetsOf(cb + j, cr + j);
    ConvertThirtyTwo<streamed>(out0 + 6 * j, y0 + 2 * j, o);
    ConvertThirtyTwo<streamed>(out1 + 6 * j, y1 + 2 * j, o);
  }
  if (j < chromaWidth) ConvertRowPair(out0 + 6 * j, out1 + 6 * j, y0 + 2 * j, y1 + 2 * j, cb + j, cr + j, chromaWidth - j);
}

// Each step stores 96 bytes from a multiple of 96 into the row: whole aligned 32-byte blocks
// when the row begins on one. A row pair that does not is stored as usual.
[[gnu::target("avx2")]] void ConvertRowPairStreamedAvx2(uint8_t* out0, uint8_t* out1, const uint8_t* y0,
                                                       const uint8_t* y1, const uint8_t* cb, const uint8_t* cr,
                                                       int32_t chromaWidth) {
  if (((reinterpret_cast<uintptr_t>(out0) | reinterpret_cast<uintptr_t>(out1)) & 31) == 0)
    ConvertRowPairAvx2<true>(out0, out1, y0, y1, cb, cr, chromaWidth);
  else
    ConvertRowPairAvx2<false>(out0, out1, y0, y1, cb, cr, chromaWidth);
}

}  // namespace

void ConvertToRgb24Avx2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height) {
  ConvertByRowPairs(ConvertRowPairAvx2<false>, picture, y, cb, cr, width, height);
}

void ConvertToRgb24StreamedAvx2(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                int32_t width, int32_t height) {
  ConvertByRowPairs(ConvertRowPairStreamedAvx2, picture, y, cb, cr, width, height);
  // The streamed stores are ordered with none of the others: all are done before the picture is
  // handed to another thread.
  _mm_sfence();
}

void ConvertToRgb24DoubledAvx2(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                        int32_t height) {
  ConvertByRowPairsDoubled(ConvertRowPairAvx2<false>, frame, y, cb, cr, width, height);
}

}  // namespace zentrova

#endif  // __SSE2__
