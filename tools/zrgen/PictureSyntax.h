#pragma once
// One picture as the encoder plans it, and the writer that turns the plan into the recorder's
// picture syntax: start code, header, group count, macroblocks.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zentrova::zrgen {

// One TCOEF event. `level` is signed; events without a code of their own (and every event with
// forceEscape) go out as ESCAPE, whose 8-bit level may also be 0 or -128.
struct CoefficientEvent {
  bool last = false;
  int run = 0;
  int level = 1;
  bool forceEscape = false;
};

struct BlockPlan {
  int dcCode = 0;                        // intra macroblocks only: 8-bit code, never 128
  std::vector<CoefficientEvent> events;  // empty: the block is not coded
};

enum class MacroblockMode { Skip, Intra, Inter };

struct MacroblockPlan {
  MacroblockMode mode = MacroblockMode::Skip;
  std::array<BlockPlan, 6> blocks;  // 0..3 luminance, 4 Cb, 5 Cr
};

struct PictureHeader {
  bool intra = true;
  int typeCode = 0;        // 0 or 1 for intra, 2 or 3 for inter
  int width = 0;           // intra only
  int height = 0;          // intra only
  int quantiser = 8;       // 0..255
  int reservedBit = 0;     // intra only, ignored by the decoder
  bool coded = true;       // inter only: false = the previous picture again
  int groupCount = 0;      // G: the last 10 G macroblocks come in 16-bit aligned groups of 10
  int startOffset = 0;     // bits before the start code, 0..160
  uint32_t prefixSeed = 0; // chooses the bits before the start code
};

struct PicturePlan {
  PictureHeader header;
  std::vector<MacroblockPlan> macroblocks;  // raster order; the macroblock count of the picture
};

// Serialises a plan. The result is padded with zero bits to a 16-bit boundary. Returns an empty
// vector and sets `error` when the plan cannot be expressed (a run past position 63, a level
// that ESCAPE cannot carry, a forbidden DC code, a coded block whose last event is missing).
std::vector<uint8_t> WritePicture(const PicturePlan& plan, std::string* error = nullptr);

// The bits that may precede the start code: `count` bits that never let the decoder's search
// see the start code before bit `count`.
std::vector<bool> StartCodePrefix(int count, uint32_t seed);

}  // namespace zentrova::zrgen
