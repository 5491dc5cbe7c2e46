#pragma once
// The layout figures the AVI writer's files share: the chunk limits, the segment header, and the
// reserved index chunks the writer keeps current inside the movi list.
#include <cstddef>
#include <cstdint>

namespace zentrova::avi::layout {

// A write may leave at most this many samples unwritten before its start; they are filled with
// empty frames (video) or silence (audio) so that what follows keeps its time.
inline constexpr uint64_t kMaxGap = uint64_t{1} << 16;
inline constexpr uint64_t kMaxChunkBytes = uint64_t{1} << 28;
inline constexpr size_t kSilenceBytes = 32768;
inline constexpr size_t kSegmentHeaderBytes = 24;  // 'RIFF' size 'AVIX' 'LIST' size 'movi'
// A reserved index chunk: 8 bytes of chunk header, then the 24-byte index header whose entry
// count sits at byte 12 of the chunk, then the entries.
inline constexpr uint64_t kIndexCountAt = 12;
inline constexpr uint64_t kIndexEntriesAt = 32;
inline constexpr uint32_t kDeltaFrame = 0x80000000u;  // bit 31 of a standard index size: not a key frame
inline constexpr uint32_t kFirstRegionEntries = 64;

}  // namespace zentrova::avi::layout
