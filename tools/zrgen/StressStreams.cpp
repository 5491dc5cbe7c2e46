#include "StressStreams.h"

#include <random>

#include "EncoderTables.h"

namespace zentrova::zrgen {

namespace {

constexpr int kForbiddenDc = 128;

struct Walk {
  int width, height, count;
  std::mt19937 random;
  std::vector<StressStep> steps;

  int Draw(int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); }

  int DcCode() {
    const int v = Draw(255);
    return v == kForbiddenDc ? 255 : v;
  }

  PicturePlan Picture(bool intra, int quantiser) {
    PicturePlan plan;
    plan.header.intra = intra;
    plan.header.typeCode = intra ? 0 : 2;
    plan.header.width = width;
    plan.header.height = height;
    plan.header.quantiser = quantiser;
    plan.macroblocks.resize(static_cast<size_t>(count));
    for (MacroblockPlan& mb : plan.macroblocks) {
      mb.mode = intra ? MacroblockMode::Intra : MacroblockMode::Skip;
      for (BlockPlan& b : mb.blocks) b.dcCode = DcCode();
    }
    return plan;
  }

  void Add(const PicturePlan& plan) {
    StressStep step;
    step.plan = plan;
    steps.push_back(std::move(step));
  }

  void AddKind(StressStep::Kind kind, int bytes = 0) {
    StressStep step;
    step.kind = kind;
    step.noPictureBytes = bytes;
    steps.push_back(std::move(step));
  }

  // Places coded blocks into the picture's macroblocks in order, six per macroblock.
  void Place(PicturePlan& plan, const std::vector<BlockPlan>& blocks, MacroblockMode mode, size_t firstMacroblock) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      MacroblockPlan& mb = plan.macroblocks[(firstMacroblock + i / 6) % plan.macroblocks.size()];
      mb.mode = mode;
      const int dc = mb.blocks[i % 6].dcCode;
      mb.blocks[i % 6] = blocks[i];
      mb.blocks[i % 6].dcCode = dc;
    }
  }

  // A light random block: a few small coefficients.
  BlockPlan SmallBlock(int first) {
    BlockPlan b;
    b.dcCode = DcCode();
    const int n = Draw(4);
    int position = first;
    for (int i = 0; i < n && position < 60; ++i) {
      const int run = Draw(3);
      const int level = (Draw(3) + 1) * (Draw(2) ? 1 : -1);
      b.events.push_back({false, run, level, false});
      position += run + 1;
    }
    if (!b.events.empty()) b.events.back().last = true;
    return b;
  }

  void RandomContent(PicturePlan& plan, bool intraPicture) {
    for (MacroblockPlan& mb : plan.macroblocks) {
      if (!intraPicture) {
        const int pick = Draw(3);
        mb.mode = pick == 0 ? MacroblockMode::Skip : pick == 1 ? MacroblockMode::Intra : MacroblockMode::Inter;
      }
      if (mb.mode == MacroblockMode::Skip) continue;
      const int first = mb.mode == MacroblockMode::Intra ? 1 : 0;
      for (BlockPlan& b : mb.blocks)
        if (Draw(2)) b = SmallBlock(first);
    }
  }
};

std::vector<CoefficientEvent> TableEvents(int last) {
  std::vector<CoefficientEvent> events;
  bool negative = false;
  for (const TcoefEntry& e : kTcoefTable) {
    if (e.last != last) continue;
    events.push_back({last == 1, e.run, negative ? -e.level : e.level, false});
    negative = !negative;
  }
  return events;
}

std::vector<CoefficientEvent> EscapeEvents() {
  std::vector<CoefficientEvent> events;
  for (int byte = 0; byte < 256; ++byte) events.push_back({false, byte % 3, byte < 128 ? byte : byte - 256, true});
  return events;
}

// Blocks whose last coefficient lands exactly on position 63: by table code, and by ESCAPE.
std::vector<BlockPlan> RunsToTheEnd(int first) {
  std::vector<BlockPlan> blocks;
  BlockPlan one;
  one.events = {{true, 63 - first, 1, true}};
  blocks.push_back(one);
  BlockPlan two;
  two.events = {{false, 22, -2, false}, {true, 62 - 22 - first, 1, false}};
  blocks.push_back(two);
  BlockPlan three;
  three.events = {{false, 63 - 40 - first - 1, 3, false}, {true, 40, -1, false}};  // the longest table run
  blocks.push_back(three);
  return blocks;
}

// Every luminance pattern with every chroma pattern: 64 macroblocks.
void AllPatterns(Walk& w, PicturePlan& plan, MacroblockMode mode) {
  for (int pattern = 0; pattern < 64; ++pattern) {
    MacroblockPlan& mb = plan.macroblocks[static_cast<size_t>(pattern) % plan.macroblocks.size()];
    mb.mode = mode;
    for (int b = 0; b < 6; ++b) {
      const bool coded = (pattern >> (5 - b)) & 1;
      mb.blocks[b].events.clear();
      if (coded) mb.blocks[b].events = {{true, w.Draw(8), w.Draw(2) ? 1 : -1, false}};
    }
  }
}

}  // namespace

std::vector<BlockPlan> PackEvents(const std::vector<CoefficientEvent>& events,
                                  const std::vector<CoefficientEvent>& closers, int first) {
  std::vector<BlockPlan> blocks;
  BlockPlan block;
  int position = first;
  size_t closer = 0;
  auto close = [&]() {
    CoefficientEvent end{true, 0, 1, false};
    if (closer < closers.size() && position + closers[closer].run <= 63) end = closers[closer++];
    end.last = true;
    block.events.push_back(end);
    blocks.push_back(block);
    block = BlockPlan{};
    position = first;
  };
  for (CoefficientEvent e : events) {
    if (position + e.run + 1 > 63) close();
    e.last = false;
    block.events.push_back(e);
    position += e.run + 1;
  }
  if (!block.events.empty()) close();
  while (closer < closers.size()) close();
  return blocks;
}

std::vector<StressStep> StressSequence(int codedWidth, int codedHeight, uint32_t seed) {
  Walk w{codedWidth, codedHeight, (codedWidth / 16) * (codedHeight / 16), std::mt19937(seed), {}};
  const int count = w.count;

  // 1. Intra, quantiser 1: every table code of both kinds and every ESCAPE level.
  PicturePlan codes = w.Picture(true, 1);
  std::vector<BlockPlan> blocks = PackEvents(TableEvents(0), TableEvents(1), 1);
  w.Place(codes, blocks, MacroblockMode::Intra, 0);
  const size_t afterCodes = (blocks.size() + 5) / 6;
  w.Place(codes, PackEvents(EscapeEvents(), {}, 1), MacroblockMode::Intra, afterCodes);
  w.Add(codes);

  // 2. Intra type 1, quantiser 2: every DC code (255 standing for 128), runs to position 63,
  //    reserved bit set, start code after one byte, G = 0.
  PicturePlan dc = w.Picture(true, 2);
  dc.header.typeCode = 1;
  dc.header.reservedBit = 1;
  dc.header.startOffset = 8;
  for (int v = 0, i = 0; v < 256; ++v) {
    if (v == kForbiddenDc) continue;
    dc.macroblocks[static_cast<size_t>(i / 6) % dc.macroblocks.size()].blocks[i % 6].dcCode = v;
    ++i;
  }
  w.Place(dc, RunsToTheEnd(1), MacroblockMode::Intra, static_cast<size_t>(count - 1));
  w.Add(dc);

  // 3. Inter, quantiser 0 (every coefficient becomes -1 or +1), every table code and escape from
  //    position 0, runs to 63, start code at bit 160, G with 10 G equal to the macroblock count.
  PicturePlan inter0 = w.Picture(false, 0);
  inter0.header.startOffset = 160;
  inter0.header.prefixSeed = seed;
  inter0.header.groupCount = count % 10 == 0 ? count / 10 : 0;
  w.Place(inter0, PackEvents(TableEvents(0), TableEvents(1), 0), MacroblockMode::Inter, 0);
  w.Place(inter0, RunsToTheEnd(0), MacroblockMode::Inter, static_cast<size_t>(count / 2));
  w.Add(inter0);

  // 4. Inter type 3, quantiser 255, all CBPY and CBPC values of inter macroblocks, 10 G above
  //    the macroblock count (no boundary is ever met).
  PicturePlan patterns = w.Picture(false, 255);
  patterns.header.typeCode = 3;
  patterns.header.groupCount = count / 10 + 1;
  patterns.header.startOffset = 1;
  AllPatterns(w, patterns, MacroblockMode::Inter);
  w.Add(patterns);

  // 5. Inter, odd quantiser 7, all patterns of intra macroblocks inside an inter picture, G = 3.
  PicturePlan intraPatterns = w.Picture(false, 7);
  intraPatterns.header.groupCount = 3;
  intraPatterns.header.startOffset = 37;
  intraPatterns.header.prefixSeed = seed + 1;
  AllPatterns(w, intraPatterns, MacroblockMode::Intra);
  w.Add(intraPatterns);

  // 6. A frame without a picture, an empty block, a frame without picture and without bytes.
  w.AddKind(StressStep::Kind::NoPicture, 7);
  w.AddKind(StressStep::Kind::EmptyBlock);
  w.AddKind(StressStep::Kind::NoPicture, 0);

  // 7. Not coded, then coded with every macroblock skipped.
  PicturePlan notCoded = w.Picture(false, 4);
  notCoded.header.coded = false;
  notCoded.macroblocks.clear();
  w.Add(notCoded);
  w.Add(w.Picture(false, 12));

  // 8. Random macroblocks of every kind at quantisers 12 and 255, the largest G first, start
  //    codes at assorted offsets, one intra picture among them.
  const int offsets[] = {3, 15, 16, 17, 31, 100, 159};
  for (int i = 0; i < 7; ++i) {
    const bool intra = i == 3;
    PicturePlan mixed = w.Picture(intra, i % 2 ? 12 : 255);
    mixed.header.startOffset = offsets[i];
    mixed.header.prefixSeed = seed + static_cast<uint32_t>(i);
    mixed.header.groupCount = i == 0 ? 65535 : i % 4;
    w.RandomContent(mixed, intra);
    w.Add(mixed);
  }
  return w.steps;
}

}  // namespace zentrova::zrgen
