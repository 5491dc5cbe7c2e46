#include "video/BlockCoefficients.h"

#include "video/ColumnOrder.h"
#include "video/TcoefCode.h"

namespace zentrova {

namespace {

struct Event {
  uint32_t last;
  uint32_t run;
  uint32_t level;
  bool negative;
};

// After ESCAPE: last (1 bit), run (6 bits) and the level as an 8-bit two's complement number
// without a separate sign bit, so 0 is a (positive) level of 0 and 128 a negative one of 128.
// The reader still holds the 15 bits from the fill before the ESCAPE code.
[[gnu::always_inline]] inline Event ReadEscape(BitReader& reader) {
  const uint32_t bits = reader.PeekFilled(15);
  reader.SkipFilled(15);
  const uint32_t level = bits & 0xFF;
  const bool negative = level >= 128;
  return Event{bits >> 14, (bits >> 8) & 63, negative ? 256 - level : level, negative};
}

enum class Step { More, Done, Failed };

// One event from a reader that holds at least 22 bits: a 12-bit code and its sign bit, or the
// 7-bit ESCAPE code and its 15 bits.
// `place` maps the scan position to the entry of `block` that receives the coefficient.
[[gnu::always_inline]] inline Step DecodeEvent(BitReader& reader, int16_t* block, const uint8_t* place,
                                               uint32_t& position, uint32_t quantiser) {
  const uint32_t ahead = reader.PeekFilled(13);  // the longest code and its sign bit
  const TcoefEntry& entry = kTcoefDirect.entries[ahead >> 1];
  if (entry.length == 0) return Step::Failed;
  reader.SkipFilled(entry.length);
  Event event;
  if (entry.level != 0) {
    const bool negative = ((ahead >> (13 - entry.length)) & 1) != 0;  // the last bit taken
    event = Event{entry.last, entry.run, entry.level, negative};
  } else {
    event = ReadEscape(reader);
  }
  position += event.run;
  if (position > 63) return Step::Failed;
  block[place[position]] = Dequantise(event.level, event.negative, quantiser);
  ++position;
  return event.last ? Step::Done : Step::More;
}

[[gnu::always_inline]] inline bool Decode(BitReader& reader, int16_t* block, const uint8_t* place, int first,
                                          uint32_t quantiser) {
  uint32_t position = static_cast<uint32_t>(first);
  // A fill brings at least 56 bits, enough for two events of at most 22 bits each, so the
  // reader is topped up once every two events.
  for (;;) {
    reader.Fill();
    Step step = DecodeEvent(reader, block, place, position, quantiser);
    if (step != Step::More) return step == Step::Done;
    step = DecodeEvent(reader, block, place, position, quantiser);
    if (step != Step::More) return step == Step::Done;
  }
}

}  // namespace

bool DecodeBlockCoefficients(BitReader& reader, int16_t* block, int first, uint32_t quantiser) {
  // The loop works on a copy of the reader, which the compiler keeps in registers.
  BitReader local = reader;
  const bool ok = Decode(local, block, kScanToScanOrder.data(), first, quantiser);
  reader = local;
  return ok;
}

bool DecodeBlockCoefficientsColumns(BitReader& reader, int16_t* block, int first, uint32_t quantiser) {
  BitReader local = reader;
  const bool ok = Decode(local, block, kScanToColumnOrder.data(), first, quantiser);
  reader = local;
  return ok;
}

}  // namespace zentrova
