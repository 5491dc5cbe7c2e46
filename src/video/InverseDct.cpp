// The plain 8x8 inverse DCT: 32-bit fixed point, one value at a time.
//
// Each one-dimensional step is the orthonormal 8-point inverse DCT (gain 1/(2*sqrt(2)) on the DC
// term). The even part carries cos/sin multipliers scaled by 2^16, the odd part multipliers
// scaled by 2^14 applied to inputs pre-multiplied by 4, so both halves meet at 2^16 and every
// output is (sum + 2^16) >> 17. The arithmetic is bit-exact 32-bit two's complement: a sum or
// product that leaves the 32-bit range wraps, and each output keeps only its low 16 bits.
#include "video/InverseDct.h"

#include <cstring>

#include "video/VideoDsp.h"
#include "video/x86/InverseDct.h"

namespace zentrova {
namespace {

// Even-part multipliers, x 2^16: cos(pi/4), cos(pi/8), sin(pi/8).
constexpr uint32_t K4 = 46341;
constexpr uint32_t K2 = 60547;
constexpr uint32_t K6 = 25080;
// Odd-part multipliers, x 2^14: cos(pi/16), sin(pi/16), cos(3pi/16), sin(3pi/16).
constexpr uint32_t K1 = 16069;
constexpr uint32_t K7 = 3196;
constexpr uint32_t K3 = 13623;
constexpr uint32_t K5 = 9102;

// Values are carried as uint32 so that sums and products wrap modulo 2^32 exactly as the
// 32-bit signed arithmetic of the transform does, without signed overflow.
inline uint32_t Lift(int32_t v) { return static_cast<uint32_t>(v); }

// Arithmetic right shift of the 32-bit pattern (rounds towards minus infinity).
inline uint32_t ShiftRight(uint32_t v, int bits) { return Lift(static_cast<int32_t>(v) >> bits); }

// (s + 2^16) >> 17, low 16 bits kept: no saturation.
inline int16_t Output(uint32_t s) { return static_cast<int16_t>(static_cast<int32_t>(s + 65536u) >> 17); }

// One-dimensional step in place on values[0], values[stride], ... values[7 * stride]; forced
// inline so that the block transform runs it with constant strides and no calls.
[[gnu::always_inline]] inline void Step(int16_t* values, int stride) {
  const uint32_t x0 = Lift(values[0]);
  const uint32_t x1 = Lift(values[stride]);
  const uint32_t x2 = Lift(values[2 * stride]);
  const uint32_t x3 = Lift(values[3 * stride]);
  const uint32_t x4 = Lift(values[4 * stride]);
  const uint32_t x5 = Lift(values[5 * stride]);
  const uint32_t x6 = Lift(values[6 * stride]);
  const uint32_t x7 = Lift(values[7 * stride]);

  // Even part, at 2^16.
  const uint32_t o = K4 * (x0 + x4);
  const uint32_t b = K4 * (x0 - x4);
  const uint32_t m = K2 * x2 + K6 * x6;
  const uint32_t a = K6 * x2 - K2 * x6;
  const uint32_t e0 = o + m;
  const uint32_t e3 = o - m;
  const uint32_t e1 = b + a;
  const uint32_t e2 = b - a;

  // Odd part: the cos(pi/4) butterfly of x3 and x5 is brought back to 4 times input scale
  // (2^16 / 2^14) so that it meets x1 and x7, which are multiplied by 4.
  const uint32_t g = ShiftRight(K4 * (x3 + x5) + 8192u, 14);
  const uint32_t h = ShiftRight(K4 * (x3 - x5) + 8192u, 14);
  const uint32_t t = 4u * x1;
  const uint32_t u = 4u * x7;
  const uint32_t v = K1 * (g + t) + K7 * (h + u);
  const uint32_t w = K7 * (g + t) - K1 * (h + u);
  const uint32_t d = K3 * (t - g) - K5 * (u - h);
  const uint32_t f = K3 * (u - h) + K5 * (t - g);

  values[0] = Output(e0 + v);
  values[stride] = Output(e1 + d);
  values[2 * stride] = Output(e2 + f);
  values[3 * stride] = Output(e3 + w);
  values[4 * stride] = Output(e3 - w);
  values[5 * stride] = Output(e2 - f);
  values[6 * stride] = Output(e1 - d);
  values[7 * stride] = Output(e0 - v);
}

// True when every coefficient after the DC term is zero: coefficients 1..3, then 4..63 four
// at a time.
bool DcAlone(const int16_t* coefficients) {
  uint64_t any = static_cast<uint16_t>(coefficients[1] | coefficients[2] | coefficients[3]);
  for (int k = 4; k < 64; k += 4) {
    uint64_t word;
    std::memcpy(&word, coefficients + k, sizeof word);
    any |= word;
  }
  return any == 0;
}

// The flow graph on DC alone: a row of zeros stays zero ((0 + 2^16) >> 17), row 0 becomes
// Output(K4 * dc) throughout, and every column then gives Output(K4 * that).
int16_t DcAloneSample(int16_t dc) {
  const int16_t row = Output(K4 * Lift(dc));
  return Output(K4 * Lift(row));
}

}  // namespace

void InverseDct1D(int16_t* values, int stride) { Step(values, stride); }

bool FillPlainDcAlone(const int16_t* coefficients, int16_t* samples) {
  if (!DcAlone(coefficients)) return false;
  const int16_t value = DcAloneSample(coefficients[0]);
  for (int p = 0; p < 64; ++p) samples[p] = value;
  return true;
}

void InverseDctPortable(const int16_t* coefficients, int16_t* samples) {
  for (int p = 0; p < 64; ++p) samples[p] = coefficients[ZigzagTable[p]];
  for (int row = 0; row < 8; ++row) Step(samples + 8 * row, 1);
  for (int column = 0; column < 8; ++column) Step(samples + column, 8);
}

void InverseDctPortableColumns(const int16_t* columns, int16_t* samples) {
  // The column-by-column layout transposed is the natural one the flow graph starts from.
  for (int p = 0; p < 64; ++p) samples[p] = columns[8 * (p & 7) + (p >> 3)];
  for (int row = 0; row < 8; ++row) Step(samples + 8 * row, 1);
  for (int column = 0; column < 8; ++column) Step(samples + column, 8);
}

namespace {

void ScanC(const int16_t* coefficients, int16_t* samples) {
  if (!FillPlainDcAlone(coefficients, samples)) InverseDctPortable(coefficients, samples);
}

void ColumnsC(const int16_t* columns, int16_t* samples) {
  if (!FillPlainDcAlone(columns, samples)) InverseDctPortableColumns(columns, samples);
}

}  // namespace

void InitPlainInverseDctDsp(InverseDctDsp& dsp, uint32_t cpuFlags) {
  dsp = {ScanC, ColumnsC, TransformEach<ColumnsC>};
#if defined(__SSE2__)
  InitPlainInverseDctX86(dsp, cpuFlags);
#else
  (void)cpuFlags;
#endif
}

void InverseDct(const int16_t* coefficients, int16_t* samples) { VideoKernels().plainIdct.scan(coefficients, samples); }

void InverseDctColumns(const int16_t* columns, int16_t* samples) { VideoKernels().plainIdct.columns(columns, samples); }

void InverseDctPairColumns(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                           int16_t* secondSamples) {
  VideoKernels().plainIdct.columnPair(first, second, firstSamples, secondSamples);
}

}  // namespace zentrova
