#pragma once
// Builds video frames bit by bit for the tests, on the recording generator's bit writer: the
// picture header, the macroblock groups and the macroblocks, coding events with the TCOEF table.
// Unlike the generator's picture writer these also write what a recorder never should (fill bits
// of one, levels beyond ESCAPE's byte, any DC code), to see what the decoder makes of it.
#include <cstdint>
#include <string>
#include <vector>

#include "video/TcoefCode.h"
#include "zrgen/BitWriter.h"

namespace zentrova::testing {

// The recording generator's bit writer: the tests write their streams with the same bits.
using zrgen::BitWriter;

// One coefficient event; `escape` forces the ESCAPE form, `level` is signed.
struct Event {
  int run = 0;
  int level = 1;
  bool last = true;
  bool escape = false;
};

// ESCAPE level byte is two's complement; `level` outside -128..127 is taken as a raw byte.
inline void PutEvent(BitWriter& w, const Event& e) {
  const int magnitude = e.level < 0 ? -e.level : e.level;
  if (!e.escape) {
    for (const TcoefEvent& t : kTcoefEvents) {
      if (t.last == (e.last ? 1 : 0) && t.run == e.run && t.level == magnitude) {
        w.PutBits(t.code);
        w.Put(e.level < 0 ? 1 : 0, 1);
        return;
      }
    }
  }
  w.PutBits(kTcoefEscapeCode);
  w.Put(e.last ? 1 : 0, 1);
  w.Put(static_cast<uint32_t>(e.run), 6);
  w.Put(static_cast<uint32_t>(e.level) & 0xFF, 8);
}

inline void PutEvents(BitWriter& w, const std::vector<Event>& events) {
  for (const Event& e : events) PutEvent(w, e);
}

// ITU-T H.263 CBPY codes, written independently of the decoder's lookup.
inline const char* CbpyCode(uint32_t cbpy) {
  static const char* const kCodes[16] = {"11",   "0110",   "1000", "0100",  "1010", "0101",  "000011", "00010",
                                         "1011", "000010", "0111", "00011", "1001", "00100", "00101",  "0011"};
  return kCodes[cbpy & 15];
}

struct BlockSpec {
  bool coded = false;
  uint32_t dc = 0;            // intra blocks only: the 8-bit DC code
  std::vector<Event> events;  // coded blocks only; the last one should carry last = true
};

struct MacroblockSpec {
  BlockSpec blocks[6];
};

inline uint32_t LumaPattern(const MacroblockSpec& mb) {
  uint32_t pattern = 0;
  for (int b = 0; b < 4; ++b)
    if (mb.blocks[b].coded) pattern |= 8u >> b;
  return pattern;
}

inline uint32_t ChromaPattern(const MacroblockSpec& mb) {
  return (mb.blocks[4].coded ? 2u : 0u) | (mb.blocks[5].coded ? 1u : 0u);
}

inline void PutIntraMacroblock(BitWriter& w, const MacroblockSpec& mb) {
  w.PutBits(CbpyCode(15 - LumaPattern(mb)));  // intra: a clear CBPY bit means coded
  w.Put(ChromaPattern(mb), 2);
  for (const BlockSpec& b : mb.blocks) {
    w.Put(b.dc, 8);
    if (b.coded) PutEvents(w, b.events);
  }
}

// Inside an inter picture: skip flag 0, type 0, then the intra macroblock.
inline void PutIntraInInter(BitWriter& w, const MacroblockSpec& mb) {
  w.PutBits("00");
  PutIntraMacroblock(w, mb);
}

inline void PutInterMacroblock(BitWriter& w, const MacroblockSpec& mb) {
  w.PutBits("01");
  w.PutBits(CbpyCode(LumaPattern(mb)));
  w.Put(ChromaPattern(mb), 2);
  for (const BlockSpec& b : mb.blocks)
    if (b.coded) PutEvents(w, b.events);
}

inline void PutSkipped(BitWriter& w) { w.Put(1, 1); }

inline MacroblockSpec FlatIntra(uint32_t dc) {
  MacroblockSpec mb;
  for (BlockSpec& b : mb.blocks) b.dc = dc;
  return mb;
}

// Writes the start code and header, the group count, and the realignment before each of the
// last `groups` groups of ten macroblocks as macroblocks are begun.
class PictureWriter {
 public:
  PictureWriter(int macroblocks, int groups, int padBits = 0) : count_(macroblocks), groups_(groups), pad_(padBits) {}

  void StartIntra(uint32_t width, uint32_t height, uint32_t quantiser, uint32_t type = 0) {
    PutStartCode();
    w.Put(type, 2);
    w.Put(width, 10);
    w.Put(height, 10);
    w.Put(quantiser, 8);
    w.Put(1, 1);
    PutGroupCount();
  }
  void StartInter(uint32_t quantiser, uint32_t type = 2) {
    PutStartCode();
    w.Put(type, 2);
    w.Put(1, 1);
    w.Put(quantiser, 8);
    PutGroupCount();
  }
  void BeginMacroblock() {
    if (groups_ > 0 && next_ == count_ - 10 * groups_) {
      w.AlignTo16(pad_ != 0);
      alignedAt.push_back(next_);
      --groups_;
    }
    ++next_;
  }
  std::vector<uint8_t> Finish() {
    w.AlignTo16();
    return w.bytes();
  }

  BitWriter w;
  std::vector<int> alignedAt;  // macroblocks that began a group
  int leadingBits = 0;         // bits before the start code

 private:
  void PutStartCode() {
    w.Put(0, leadingBits);
    w.Put(16, 21);
  }
  void PutGroupCount() {
    w.AlignTo16(pad_ != 0);
    w.Put(static_cast<uint32_t>(groups_), 16);
  }
  int count_;
  int groups_;
  int pad_;
  int next_ = 0;
};

// A whole intra picture whose macroblock m is `make(m)`.
template <typename Make>
std::vector<uint8_t> IntraPicture(int width, int height, uint32_t quantiser, int groups, Make make, int padBits = 0) {
  const int count = (width / 16) * (height / 16);
  PictureWriter p(count, groups, padBits);
  p.StartIntra(static_cast<uint32_t>(width), static_cast<uint32_t>(height), quantiser);
  for (int m = 0; m < count; ++m) {
    p.BeginMacroblock();
    PutIntraMacroblock(p.w, make(m));
  }
  return p.Finish();
}

}  // namespace zentrova::testing
