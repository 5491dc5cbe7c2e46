#include "video/BlockCoefficients.h"

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
Event ReadEscape(BitReader& reader) {
  const uint32_t bits = reader.Read(15);
  const uint32_t level = bits & 0xFF;
  const bool negative = level >= 128;
  return Event{bits >> 14, (bits >> 8) & 63, negative ? 256 - level : level, negative};
}

bool Decode(BitReader& reader, int16_t* block, int first, uint32_t quantiser) {
  uint32_t position = static_cast<uint32_t>(first);
  for (;;) {
    // One look-ahead covers the longest code (12 bits) and the sign bit after it.
    const uint32_t ahead = reader.Peek(13);
    const TcoefEntry& entry = LookupTcoef(ahead >> 1);
    if (entry.length == 0) return false;
    Event event;
    if (entry.level != 0) {
      const bool negative = ((ahead >> (12 - entry.length)) & 1) != 0;
      reader.Skip(entry.length + 1);
      event = Event{entry.last, entry.run, entry.level, negative};
    } else {
      reader.Skip(entry.length);
      event = ReadEscape(reader);
    }
    position += event.run;
    if (position > 63) return false;
    block[position] = Dequantise(event.level, event.negative, quantiser);
    ++position;
    if (event.last) return true;
  }
}

}  // namespace

bool DecodeBlockCoefficients(BitReader& reader, int16_t* block, int first, uint32_t quantiser) {
  // The loop works on a copy of the reader, which the compiler keeps in registers.
  BitReader local = reader;
  const bool ok = Decode(local, block, first, quantiser);
  reader = local;
  return ok;
}

}  // namespace zentrova
