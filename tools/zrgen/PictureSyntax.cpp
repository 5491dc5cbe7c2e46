#include "PictureSyntax.h"

#include <optional>

#include "BitWriter.h"
#include "EncoderTables.h"

namespace zentrova::zrgen {

namespace {

constexpr uint32_t kStartCode = 16;  // 21 bits: sixteen zeros, a one, four zeros
constexpr int kStartCodeBits = 21;
constexpr int kForbiddenDc = 128;

struct Writer {
  BitWriter bits;
  std::string error;

  bool Fail(const std::string& why) {
    if (error.empty()) error = why;
    return false;
  }

  bool Event(const CoefficientEvent& e) {
    if (e.run < 0 || e.run > 63) return Fail("run outside 0..63");
    const int magnitude = e.level < 0 ? -e.level : e.level;
    const std::optional<VlcCode> code = e.forceEscape ? std::nullopt : TcoefCodeFor(e.last, e.run, magnitude);
    if (code) {
      bits.Put(code->bits, code->length);
      bits.PutBit(e.level < 0);
      return true;
    }
    if (e.level < -128 || e.level > 127) return Fail("level beyond ESCAPE's 8 bits");
    bits.Put(kTcoefEscape.bits, kTcoefEscape.length);
    bits.PutBit(e.last);
    bits.Put(static_cast<uint32_t>(e.run), 6);
    bits.Put(static_cast<uint32_t>(e.level) & 0xFFu, 8);  // two's complement
    return true;
  }

  bool Coefficients(const BlockPlan& block, int firstPosition) {
    int position = firstPosition;
    for (size_t i = 0; i < block.events.size(); ++i) {
      const CoefficientEvent& e = block.events[i];
      const bool lastEvent = i + 1 == block.events.size();
      if (e.last != lastEvent) return Fail("last flag must mark exactly the final event");
      position += e.run;
      if (position > 63) return Fail("run past scan position 63");
      if (!Event(e)) return false;
      ++position;
    }
    return true;
  }

  static int CodedPattern(const MacroblockPlan& mb, int first, int count) {
    int pattern = 0;
    for (int b = first; b < first + count; ++b) pattern = (pattern << 1) | (mb.blocks[b].events.empty() ? 0 : 1);
    return pattern;
  }

  bool IntraMacroblock(const MacroblockPlan& mb) {
    const VlcCode cbpy = CbpyCode(15 - CodedPattern(mb, 0, 4));  // inverted for intra
    bits.Put(cbpy.bits, cbpy.length);
    bits.Put(static_cast<uint32_t>(CodedPattern(mb, 4, 2)), 2);
    for (const BlockPlan& block : mb.blocks) {
      if (block.dcCode < 0 || block.dcCode > 255 || block.dcCode == kForbiddenDc) return Fail("forbidden intra DC code");
      bits.Put(static_cast<uint32_t>(block.dcCode), 8);
      if (!Coefficients(block, 1)) return false;
    }
    return true;
  }

  bool InterMacroblock(const MacroblockPlan& mb) {
    const VlcCode cbpy = CbpyCode(CodedPattern(mb, 0, 4));
    bits.Put(cbpy.bits, cbpy.length);
    bits.Put(static_cast<uint32_t>(CodedPattern(mb, 4, 2)), 2);
    for (const BlockPlan& block : mb.blocks)
      if (!Coefficients(block, 0)) return false;
    return true;
  }

  bool Macroblock(const MacroblockPlan& mb, bool intraPicture) {
    if (intraPicture) {
      if (mb.mode != MacroblockMode::Intra) return Fail("an intra picture holds only intra macroblocks");
      return IntraMacroblock(mb);
    }
    bits.PutBit(mb.mode == MacroblockMode::Skip);
    if (mb.mode == MacroblockMode::Skip) return true;
    bits.PutBit(mb.mode == MacroblockMode::Inter);
    return mb.mode == MacroblockMode::Inter ? InterMacroblock(mb) : IntraMacroblock(mb);
  }

  bool Header(const PictureHeader& h) {
    if (h.startOffset < 0 || h.startOffset > 160) return Fail("start code offset outside 0..160");
    for (bool bit : StartCodePrefix(h.startOffset, h.prefixSeed)) bits.PutBit(bit);
    bits.Put(kStartCode, kStartCodeBits);
    bits.Put(static_cast<uint32_t>(h.typeCode) & 3u, 2);
    if (h.intra) {
      bits.Put(static_cast<uint32_t>(h.width), 10);
      bits.Put(static_cast<uint32_t>(h.height), 10);
      bits.Put(static_cast<uint32_t>(h.quantiser), 8);
      bits.Put(static_cast<uint32_t>(h.reservedBit), 1);
      return true;
    }
    bits.PutBit(h.coded);
    if (h.coded) bits.Put(static_cast<uint32_t>(h.quantiser), 8);
    return true;
  }

  bool MacroblockData(const PicturePlan& plan) {
    const int count = static_cast<int>(plan.macroblocks.size());
    int groups = plan.header.groupCount;
    bits.AlignTo16();
    bits.Put(static_cast<uint32_t>(groups), 16);
    for (int m = 0; m < count; ++m) {
      // The last 10 G macroblocks start their groups of ten on 16-bit boundaries.
      if (groups > 0 && m == count - 10 * groups) {
        bits.AlignTo16();
        --groups;
      }
      if (!Macroblock(plan.macroblocks[m], plan.header.intra)) return false;
    }
    return true;
  }
};

bool ValidHeader(const PictureHeader& h, std::string& why) {
  const bool typeMatches = h.intra ? (h.typeCode == 0 || h.typeCode == 1) : (h.typeCode == 2 || h.typeCode == 3);
  if (!typeMatches) why = "picture type does not match the picture kind";
  else if (h.quantiser < 0 || h.quantiser > 255) why = "quantiser outside 0..255";
  else if (h.width < 0 || h.width > 1023 || h.height < 0 || h.height > 1023) why = "size beyond 10 bits";
  else if (h.groupCount < 0 || h.groupCount > 65535) why = "group count beyond 16 bits";
  return why.empty();
}

}  // namespace

std::vector<bool> StartCodePrefix(int count, uint32_t seed) {
  // A run of ones that ends in a zero: every 21-bit window that starts inside it holds a one
  // ahead of the start code's own, so the search cannot stop early. The seed varies where the
  // ones give way to zeros, which keeps the later windows free of a false start code too.
  std::vector<bool> prefix(static_cast<size_t>(count), false);
  const int ones = count == 0 ? 0 : static_cast<int>(seed % static_cast<uint32_t>(count)) + 1;
  for (int i = 0; i < ones && i < count; ++i) prefix[static_cast<size_t>(i)] = true;
  return prefix;
}

std::vector<uint8_t> WritePicture(const PicturePlan& plan, std::string* error) {
  Writer w;
  std::string why;
  const bool ok = ValidHeader(plan.header, why) && w.Header(plan.header) &&
                  (!plan.header.coded && !plan.header.intra ? true : w.MacroblockData(plan));
  if (!ok) {
    if (error) *error = why.empty() ? w.error : why;
    return {};
  }
  w.bits.AlignTo16();
  return w.bits.Take();
}

}  // namespace zentrova::zrgen
