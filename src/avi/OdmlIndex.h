#pragma once
// The three indexes of an AVI file: the legacy idx1 of the first RIFF segment, and the OpenDML
// (AVI 2.0) pair of a per-stream super index ('indx', in the stream header) pointing at one
// standard index chunk ('ix##') per stream per RIFF segment.
#include <cstddef>
#include <cstdint>
#include <span>

#include "avi/RiffBuffer.h"

namespace zentrova::avi {

// One data chunk as the indexes record it.
struct ChunkEntry {
  uint64_t dataOffset;  // file offset of the chunk's data, past its 8-byte header
  uint32_t size;        // data bytes, without the pad byte
  bool key;
};

// One standard index chunk as the super index records it.
struct SuperEntry {
  uint64_t offset;    // file offset of the 'ix##' chunk header
  uint32_t size;      // bytes of that chunk, header included
  uint32_t duration;  // stream ticks it covers: frames for video, samples for audio
};

// One idx1 entry.
struct LegacyEntry {
  uint32_t chunkId;
  uint32_t flags;
  uint32_t offset;  // of the chunk header, counted from the 'movi' list type
  uint32_t size;
};

inline constexpr uint32_t kLegacyKeyFrame = 0x10;  // AVIIF_KEYFRAME

// Bytes of an 'ix##' chunk with `entries` entries, header included.
constexpr uint64_t StandardIndexBytes(uint64_t entries) { return 8 + 24 + 8 * entries; }
// Bytes of an 'indx' chunk with room for `capacity` entries, header included.
constexpr uint64_t SuperIndexBytes(uint32_t capacity) { return 8 + 24 + 16 * uint64_t{capacity}; }
// Bytes of an idx1 chunk with `entries` entries, header included.
constexpr uint64_t LegacyIndexBytes(uint64_t entries) { return 8 + 16 * entries; }

// Appends 'ix##' for the chunks of one stream in one segment. Every data offset must lie less
// than 4 GiB past `base`.
void AppendStandardIndex(RiffBuffer& out, uint32_t indexFourcc, uint32_t chunkId, uint64_t base,
                         std::span<const ChunkEntry> entries);

// Appends the stream's super index with room for `capacity` entries. Without entries it is a
// JUNK chunk of the same size, so that readers do not go looking for an index that is not there.
void AppendSuperIndex(RiffBuffer& out, uint32_t chunkId, std::span<const SuperEntry> entries, uint32_t capacity);

void AppendLegacyIndex(RiffBuffer& out, std::span<const LegacyEntry> entries);

// "ix00", "ix01", ... and "00dc", "01wb", ...: the two digits of a stream number before a tag.
uint32_t StreamTag(int stream, char c, char d);
uint32_t IndexTag(int stream);

}  // namespace zentrova::avi
