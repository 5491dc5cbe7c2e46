#pragma once
// Turns the samples of one macroblock into a macroblock plan: forward DCT, quantisation that
// matches the decoder's reconstruction, and the choice between skip, intra and residual.
#include <array>

#include "Planes.h"
#include "PictureSyntax.h"

namespace zentrova::zrgen {

// 384 samples in the decoder's macroblock layout: 16x16 luminance row by row, then 8x8 Cb, 8x8 Cr.
using MacroblockSamples = std::array<int, 384>;

MacroblockSamples LoadMacroblock(const Planes& planes, int column, int row);

// The 64 samples of block b (0..3 luminance, 4 Cb, 5 Cr) in natural order.
std::array<int, 64> BlockOf(const MacroblockSamples& mb, int b);

// The intra DC code for a block whose mean is `mean`: the nearest value the code can carry
// (0..254; 128 goes out as 255, so 255 itself cannot be sent).
int IntraDcCode(double mean);

// Largest level magnitude whose reconstruction q(2L+1) stays within the transform's input range.
int MaxLevel(int quantiser);

BlockPlan QuantiseIntraBlock(const std::array<int, 64>& samples, int quantiser);
BlockPlan QuantiseInterBlock(const std::array<int, 64>& residual, int quantiser);

MacroblockPlan IntraMacroblock(const MacroblockSamples& source, int quantiser);

// Skipped when the residual quantises to nothing, intra when the macroblock is flatter than its
// difference to the reference, else a residual.
MacroblockPlan InterMacroblock(const MacroblockSamples& source, const MacroblockSamples& reference, int quantiser);

}  // namespace zentrova::zrgen
