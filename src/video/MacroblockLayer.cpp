#include "video/MacroblockLayer.h"

#include <cstring>

#include "video/BlockCoefficients.h"
#include "video/CodedBlockPattern.h"

namespace zentrova {

namespace {

constexpr uint32_t kForbiddenDc = 128;
constexpr uint32_t kDcFor128 = 255;  // the code that stands for DC 128

bool Flat(const int16_t* samples, int16_t& value) {
  for (int i = 1; i < 64; ++i)
    if (samples[i] != samples[0]) return false;
  value = samples[0];
  return true;
}

// The six coded-block flags as bits 5 (block 0) down to 0 (block 5).
uint32_t CodedBlocks(uint32_t lumaPattern, uint32_t chromaPattern) { return (lumaPattern << 2) | chromaPattern; }

bool BlockCoded(uint32_t flags, int block) { return ((flags >> (5 - block)) & 1) != 0; }

// Steps of an intra macroblock, in intra pictures and in inter pictures alike.
bool DecodeIntraMacroblock(const MacroblockContext& context, int x, int y, uint32_t quantiser) {
  BitReader& reader = *context.reader;
  const uint32_t lumaPattern = 15 - ReadCbpy(reader);  // a clear bit means coded here
  const uint32_t flags = CodedBlocks(lumaPattern, reader.Read(2));
  alignas(16) int16_t macroblock[kMacroblockEntries];
  alignas(16) int16_t coefficients[64];
  alignas(16) int16_t samples[64];
  for (int block = 0; block < 6; ++block) {
    uint32_t dc = reader.Read(8);
    if (dc == kForbiddenDc) return false;
    if (dc == kDcFor128) dc = 128;
    const bool coded = BlockCoded(flags, block);
    if (!coded && context.shortcuts->known) {
      FillBlock(block, macroblock, context.shortcuts->dcFlat[dc]);
      continue;
    }
    std::memset(coefficients, 0, sizeof coefficients);
    coefficients[0] = static_cast<int16_t>(8 * dc);
    if (coded && !DecodeBlockCoefficients(reader, coefficients, 1, quantiser)) return false;
    context.transform(coefficients, samples);
    PlaceBlock(block, macroblock, samples);
  }
  ClampMacroblock(macroblock);
  StoreMacroblock(x, y, macroblock, context.planes);
  return true;
}

// A residual added to the co-located macroblock. All six blocks are decoded before the planes
// are read or written, so a failure leaves the whole macroblock as it was.
bool DecodeInterMacroblock(const MacroblockContext& context, int x, int y, uint32_t quantiser) {
  BitReader& reader = *context.reader;
  const uint32_t lumaPattern = ReadCbpy(reader);  // a set bit means coded here
  const uint32_t flags = CodedBlocks(lumaPattern, reader.Read(2));
  const TransformShortcuts& shortcuts = *context.shortcuts;
  // Without coded blocks the residual is the transform of zeros; when that is zero, the
  // macroblock stays exactly as it is (its samples are already within 0..255).
  if (flags == 0 && shortcuts.known && shortcuts.zero == 0) return true;
  alignas(16) int16_t residual[kMacroblockEntries];
  alignas(16) int16_t coefficients[64];
  alignas(16) int16_t samples[64];
  for (int block = 0; block < 6; ++block) {
    const bool coded = BlockCoded(flags, block);
    if (!coded && shortcuts.known) {
      FillBlock(block, residual, shortcuts.zero);
      continue;
    }
    std::memset(coefficients, 0, sizeof coefficients);
    if (coded && !DecodeBlockCoefficients(reader, coefficients, 0, quantiser)) return false;
    context.transform(coefficients, samples);
    PlaceBlock(block, residual, samples);
  }
  alignas(16) int16_t prediction[kMacroblockEntries];
  LoadMacroblock(x, y, prediction, context.planes);
  AddResidual(prediction, residual);
  ClampMacroblock(prediction);
  StoreMacroblock(x, y, prediction, context.planes);
  return true;
}

// The last 10 G macroblocks come as G groups of ten, each starting on a 16-bit boundary;
// boundaries are met only in that order, so when 10 G exceeds the macroblock count none is.
template <bool kInter>
bool DecodeMacroblocks(const MacroblockContext& context, uint32_t quantiser) {
  BitReader& reader = *context.reader;
  reader.AlignTo16();
  int32_t groups = static_cast<int32_t>(reader.Read(16));
  for (int32_t m = 0; m < context.count; ++m) {
    if (groups > 0 && m == context.count - 10 * groups) {
      reader.AlignTo16();
      --groups;
    }
    const int x = m % context.columns;
    const int y = m / context.columns;
    if (!kInter) {
      if (!DecodeIntraMacroblock(context, x, y, quantiser)) return false;
      continue;
    }
    if (reader.Read(1)) continue;  // skipped: the previous picture stays
    const bool interCoded = reader.Read(1) != 0;
    const bool ok = interCoded ? DecodeInterMacroblock(context, x, y, quantiser)
                               : DecodeIntraMacroblock(context, x, y, quantiser);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

TransformShortcuts MeasureShortcuts(InverseTransform transform) {
  TransformShortcuts result;
  alignas(16) int16_t coefficients[64] = {};
  alignas(16) int16_t samples[64];
  transform(coefficients, samples);
  if (!Flat(samples, result.zero)) return result;
  for (int dc = 0; dc < 256; ++dc) {
    coefficients[0] = static_cast<int16_t>(8 * dc);
    transform(coefficients, samples);
    if (!Flat(samples, result.dcFlat[dc])) return result;
  }
  result.known = true;
  return result;
}

bool DecodeIntraPicture(const MacroblockContext& context, uint32_t quantiser) {
  return DecodeMacroblocks<false>(context, quantiser);
}

bool DecodeInterPicture(const MacroblockContext& context, uint32_t quantiser) {
  return DecodeMacroblocks<true>(context, quantiser);
}

}  // namespace zentrova
