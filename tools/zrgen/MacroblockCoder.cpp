#include "MacroblockCoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "EncoderTables.h"
#include "ForwardDct.h"

namespace zentrova::zrgen {

namespace {

// The transform's input range; larger reconstructions would wrap in its 16-bit arithmetic.
constexpr int kMaxCoefficient = 2047;
// ESCAPE carries positive levels up to 127.
constexpr int kMaxEscapeLevel = 127;
// An intra macroblock must be flatter than the residual by this much (sum of absolute luma
// differences) to be chosen: intra costs more bits for the same error.
constexpr int kIntraBias = 500;

// Levels in transmission order from `first` on -> TCOEF events with the last flag on the final one.
std::vector<CoefficientEvent> EventsOf(const std::array<int, 64>& levels, int first) {
  std::vector<CoefficientEvent> events;
  int run = 0;
  for (int k = first; k < 64; ++k) {
    if (levels[k] == 0) {
      ++run;
      continue;
    }
    events.push_back({false, run, levels[k], false});
    run = 0;
  }
  if (!events.empty()) events.back().last = true;
  return events;
}

int Level(double coefficient, int quantiser, double deadZone) {
  const double magnitude = std::fabs(coefficient) - deadZone;
  if (quantiser <= 0 || magnitude <= 0) return 0;
  const int level = std::min(static_cast<int>(magnitude / (2.0 * quantiser)), MaxLevel(quantiser));
  return coefficient < 0 ? -level : level;
}

BlockPlan QuantiseBlock(const std::array<double, 64>& coefficients, int quantiser, int first, double deadZone) {
  std::array<int, 64> levels{};
  for (int k = first; k < 64; ++k) levels[k] = Level(coefficients[kScanOrder[k]], quantiser, deadZone);
  BlockPlan plan;
  plan.events = EventsOf(levels, first);
  return plan;
}

int LumaSad(const MacroblockSamples& a, const MacroblockSamples& b) {
  int sad = 0;
  for (int i = 0; i < 256; ++i) sad += std::abs(a[i] - b[i]);
  return sad;
}

int LumaActivity(const MacroblockSamples& mb) {
  int sum = 0;
  for (int i = 0; i < 256; ++i) sum += mb[i];
  const int mean = (sum + 128) / 256;
  int activity = 0;
  for (int i = 0; i < 256; ++i) activity += std::abs(mb[i] - mean);
  return activity;
}

}  // namespace

MacroblockSamples LoadMacroblock(const Planes& planes, int column, int row) {
  MacroblockSamples mb{};
  const int w = planes.width;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) mb[16 * r + c] = planes.y[static_cast<size_t>(16 * row + r) * w + 16 * column + c];
  const int cw = planes.chromaWidth();
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      const size_t at = static_cast<size_t>(8 * row + r) * cw + 8 * column + c;
      mb[256 + 8 * r + c] = planes.cb[at];
      mb[320 + 8 * r + c] = planes.cr[at];
    }
  return mb;
}

std::array<int, 64> BlockOf(const MacroblockSamples& mb, int b) {
  std::array<int, 64> block{};
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      if (b < 4)
        block[8 * r + c] = mb[(8 * (b / 2) + r) * 16 + 8 * (b % 2) + c];
      else
        block[8 * r + c] = mb[256 + 64 * (b - 4) + 8 * r + c];
    }
  return block;
}

int IntraDcCode(double mean) {
  const int v = std::clamp(static_cast<int>(std::lround(mean)), 0, 254);
  return v == 128 ? 255 : v;
}

int MaxLevel(int quantiser) {
  if (quantiser <= 0) return kMaxEscapeLevel;
  // Even quantisers reconstruct one less; the odd bound is the tighter one and serves both.
  return std::clamp((kMaxCoefficient / quantiser - 1) / 2, 0, kMaxEscapeLevel);
}

BlockPlan QuantiseIntraBlock(const std::array<int, 64>& samples, int quantiser) {
  const std::array<double, 64> coefficients = ForwardDct(samples);
  BlockPlan plan = QuantiseBlock(coefficients, quantiser, 1, 0.0);
  plan.dcCode = IntraDcCode(coefficients[0] / 8.0);
  return plan;
}

BlockPlan QuantiseInterBlock(const std::array<int, 64>& residual, int quantiser) {
  // A dead zone of half a step keeps noise-level residuals out of the stream.
  return QuantiseBlock(ForwardDct(residual), quantiser, 0, quantiser / 2.0);
}

MacroblockPlan IntraMacroblock(const MacroblockSamples& source, int quantiser) {
  MacroblockPlan plan;
  plan.mode = MacroblockMode::Intra;
  for (int b = 0; b < 6; ++b) plan.blocks[b] = QuantiseIntraBlock(BlockOf(source, b), quantiser);
  return plan;
}

MacroblockPlan InterMacroblock(const MacroblockSamples& source, const MacroblockSamples& reference, int quantiser) {
  if (LumaActivity(source) < LumaSad(source, reference) - kIntraBias) return IntraMacroblock(source, quantiser);
  MacroblockSamples residual{};
  for (size_t i = 0; i < residual.size(); ++i) residual[i] = source[i] - reference[i];
  MacroblockPlan plan;
  plan.mode = MacroblockMode::Inter;
  bool anyCoded = false;
  for (int b = 0; b < 6; ++b) {
    plan.blocks[b] = QuantiseInterBlock(BlockOf(residual, b), quantiser);
    anyCoded = anyCoded || !plan.blocks[b].events.empty();
  }
  if (!anyCoded) plan.mode = MacroblockMode::Skip;
  return plan;
}

}  // namespace zentrova::zrgen
