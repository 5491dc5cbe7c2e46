#include "video/MacroblockLayer.h"

#include <cstring>

#include "video/BlockCoefficients.h"
#include "video/BlockReconstruction.h"
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

struct BlockTarget {
  uint8_t* origin;
  size_t stride;
};

// Where block b of macroblock (x, y) lies in the planes. The width is even, so the chroma
// row start ((8 y + r) width) / 2 is (8 y + r) (width / 2).
BlockTarget Target(const Planes& planes, int x, int y, int block) {
  const auto width = static_cast<size_t>(planes.width);
  if (block < 4) {
    const size_t row = static_cast<size_t>(16 * y + 8 * (block >> 1));
    return {planes.y + row * width + static_cast<size_t>(16 * x + 8 * (block & 1)), width};
  }
  uint8_t* plane = block == 4 ? planes.cb : planes.cr;
  const size_t stride = width / 2;
  return {plane + static_cast<size_t>(8 * y) * stride + static_cast<size_t>(8 * x), stride};
}

// The coefficients of the six blocks of one macroblock, gathered before anything is stored:
// a failure in any block must leave the planes as they were.
struct MacroblockCoefficients {
  alignas(16) int16_t blocks[6][64];
};

struct MacroblockSamples {
  alignas(16) int16_t blocks[6][64];
};

// The blocks of a macroblock that go through the transform, in block order.
struct Pending {
  int blocks[6];
  int count = 0;
};

// Transforms the pending blocks two at a time where the transform has a way to do two at once
// (the same samples as one at a time), the odd one alone, then writes each into the picture:
// `write` stores it (intra) or adds it to the co-located block (inter).
void ReconstructPending(const MacroblockContext& context, int x, int y, MacroblockCoefficients& coefficients,
                        const Pending& pending, BlockWrite write) {
  MacroblockSamples samples;
  int i = 0;
  for (; i + 1 < pending.count; i += 2) {
    const int a = pending.blocks[i];
    const int b = pending.blocks[i + 1];
    context.transformPair(coefficients.blocks[a], coefficients.blocks[b], samples.blocks[a], samples.blocks[b]);
  }
  if (i < pending.count) {
    const int a = pending.blocks[i];
    context.transform(coefficients.blocks[a], samples.blocks[a]);
  }
  for (int k = 0; k < pending.count; ++k) {
    const int block = pending.blocks[k];
    const BlockTarget target = Target(context.planes, x, y, block);
    write(samples.blocks[block], target.origin, target.stride);
  }
}

// Steps of an intra macroblock, in intra pictures and in inter pictures alike. The blocks are
// transformed, clamped and stored once all six have been read.
bool DecodeIntraMacroblock(const MacroblockContext& context, int x, int y, uint32_t quantiser) {
  BitReader& reader = *context.reader;
  const uint32_t lumaPattern = 15 - ReadCbpy(reader);  // a clear bit means coded here
  const uint32_t flags = CodedBlocks(lumaPattern, reader.Read(2));
  MacroblockCoefficients coefficients;
  uint32_t dcs[6];
  for (int block = 0; block < 6; ++block) {
    uint32_t dc = reader.Read(8);
    if (dc == kForbiddenDc) return false;
    if (dc == kDcFor128) dc = 128;
    dcs[block] = dc;
    if (!BlockCoded(flags, block)) continue;
    int16_t* coded = coefficients.blocks[block];
    std::memset(coded, 0, sizeof coefficients.blocks[block]);
    coded[0] = static_cast<int16_t>(8 * dc);
    if (!DecodeBlockCoefficientsColumns(reader, coded, 1, quantiser)) return false;
  }
  const TransformShortcuts& shortcuts = *context.shortcuts;
  Pending pending;
  for (int block = 0; block < 6; ++block) {
    const bool coded = BlockCoded(flags, block);
    if (!coded && shortcuts.known) {
      const BlockTarget target = Target(context.planes, x, y, block);
      StoreFlatBlock(shortcuts.dcFlat[dcs[block]], target.origin, target.stride);
      continue;
    }
    if (!coded) {
      int16_t* input = coefficients.blocks[block];
      std::memset(input, 0, sizeof coefficients.blocks[block]);
      input[0] = static_cast<int16_t>(8 * dcs[block]);
    }
    pending.blocks[pending.count++] = block;
  }
  ReconstructPending(context, x, y, coefficients, pending, context.storeBlock);
  return true;
}

// A residual added to the co-located macroblock, once all six blocks have been read.
bool DecodeInterMacroblock(const MacroblockContext& context, int x, int y, uint32_t quantiser) {
  BitReader& reader = *context.reader;
  const uint32_t lumaPattern = ReadCbpy(reader);  // a set bit means coded here
  const uint32_t flags = CodedBlocks(lumaPattern, reader.Read(2));
  MacroblockCoefficients coefficients;
  // A block without coefficients adds the transform of zeros: nothing, when that is zero. Then
  // only the coded blocks are visited, highest flag (lowest block) first.
  const TransformShortcuts& shortcuts = *context.shortcuts;
  const bool emptyBlocksAddNothing = shortcuts.known && shortcuts.zero == 0;
  const uint32_t visited = emptyBlocksAddNothing ? flags : 63u;
  Pending pending;
  for (uint32_t rest = visited; rest != 0;) {
    const int highest = 31 - __builtin_clz(rest);
    rest &= ~(1u << highest);
    const int block = 5 - highest;
    int16_t* input = coefficients.blocks[block];
    std::memset(input, 0, sizeof coefficients.blocks[block]);
    if (BlockCoded(flags, block) && !DecodeBlockCoefficientsColumns(reader, input, 0, quantiser)) return false;
    pending.blocks[pending.count++] = block;
  }
  ReconstructPending(context, x, y, coefficients, pending, context.addBlock);
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
    const bool ok =
        interCoded ? DecodeInterMacroblock(context, x, y, quantiser) : DecodeIntraMacroblock(context, x, y, quantiser);
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
