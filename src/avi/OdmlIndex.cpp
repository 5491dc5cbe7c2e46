#include "avi/OdmlIndex.h"

#include "media/StreamRecords.h"

namespace zentrova::avi {
namespace {

constexpr uint8_t kIndexOfIndexes = 0x00;  // AVI_INDEX_OF_INDEXES
constexpr uint8_t kIndexOfChunks = 0x01;   // AVI_INDEX_OF_CHUNKS
constexpr uint32_t kDeltaFrame = 0x80000000u;  // bit 31 of a standard index size: not a key frame

char Digit(int v) { return static_cast<char>('0' + v % 10); }

}  // namespace

uint32_t StreamTag(int stream, char c, char d) { return FourCC(Digit(stream / 10), Digit(stream), c, d); }

uint32_t IndexTag(int stream) { return FourCC('i', 'x', Digit(stream / 10), Digit(stream)); }

void AppendStandardIndex(RiffBuffer& out, uint32_t indexFourcc, uint32_t chunkId, uint64_t base,
                         std::span<const ChunkEntry> entries) {
  const size_t mark = out.OpenChunk(indexFourcc);
  out.Put16(2);  // longs per entry: offset, size
  out.Put8(0);   // sub type
  out.Put8(kIndexOfChunks);
  out.Put32(static_cast<uint32_t>(entries.size()));
  out.Put32(chunkId);
  out.Put64(base);
  out.Put32(0);
  for (const ChunkEntry& e : entries) {
    out.Put32(static_cast<uint32_t>(e.dataOffset - base));
    out.Put32(e.size | (e.key ? 0 : kDeltaFrame));
  }
  out.Close(mark);
}

void AppendSuperIndex(RiffBuffer& out, uint32_t chunkId, std::span<const SuperEntry> entries, uint32_t capacity) {
  const size_t mark = out.OpenChunk(entries.empty() ? FourCC('J', 'U', 'N', 'K') : FourCC('i', 'n', 'd', 'x'));
  out.Put16(4);  // longs per entry: 64-bit offset, size, duration
  out.Put8(0);
  out.Put8(kIndexOfIndexes);
  out.Put32(static_cast<uint32_t>(entries.size()));
  out.Put32(chunkId);
  out.PutZeros(12);
  for (size_t i = 0; i < capacity; ++i) {
    if (i >= entries.size()) {
      out.PutZeros(16);
      continue;
    }
    out.Put64(entries[i].offset);
    out.Put32(entries[i].size);
    out.Put32(entries[i].duration);
  }
  out.Close(mark);
}

void AppendLegacyIndex(RiffBuffer& out, std::span<const LegacyEntry> entries) {
  const size_t mark = out.OpenChunk(FourCC('i', 'd', 'x', '1'));
  for (const LegacyEntry& e : entries) {
    out.Put32(e.chunkId);
    out.Put32(e.flags);
    out.Put32(e.offset);
    out.Put32(e.size);
  }
  out.Close(mark);
}

}  // namespace zentrova::avi
