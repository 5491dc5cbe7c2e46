#pragma once
// One macroblock in 16-bit samples: 16x16 luminance row by row (entries 0..255), then 8x8 Cb
// (256..319) and 8x8 Cr (320..383). Blocks are numbered 0 upper-left, 1 upper-right,
// 2 lower-left, 3 lower-right luminance, 4 Cb, 5 Cr.
//
// These are the reconstruction steps as the rules state them, macroblock by macroblock. The
// decoder runs their fused, block-by-block form (BlockReconstruction.h), which the tests hold
// to these.
#include <cstdint>

namespace zentrova {

inline constexpr int kMacroblockEntries = 384;
inline constexpr int kCbOffset = 256;
inline constexpr int kCrOffset = 320;

// The decoded planes: Y is width samples a row, Cb and Cr width / 2.
struct Planes {
  uint8_t* y;
  uint8_t* cb;
  uint8_t* cr;
  int32_t width;
};

// Copies an 8x8 block of samples (natural order) to its place in the macroblock.
void PlaceBlock(int block, int16_t* macroblock, const int16_t* samples);

// Every entry below 0 becomes 0, every one above 255 becomes 255.
void ClampMacroblock(int16_t* macroblock);

// Writes the low 8 bits of each entry at macroblock column x, row y of the planes.
void StoreMacroblock(int x, int y, const int16_t* macroblock, const Planes& planes);
// The mirror of StoreMacroblock: reads the co-located samples as 0..255.
void LoadMacroblock(int x, int y, int16_t* macroblock, const Planes& planes);

// prediction += residual over all 384 entries, wrapping in 16 bits (bit-exact, as the
// reconstruction before clamping is defined).
void AddResidual(int16_t* prediction, const int16_t* residual);

}  // namespace zentrova
