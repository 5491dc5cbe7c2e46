#pragma once
// The front of an AVI file, from 'RIFF' up to the 'movi' list type: the main header (avih), one
// stream list per stream (strh, strf, strn, super index), and the OpenDML extended header (dmlh).
// It is built twice: with placeholders before the first sample, and with the final counts when
// the file is completed; both builds have the same size. The file's tags follow: the start time
// as an IDIT chunk at the end of hdrl, the texts in a LIST INFO between hdrl and movi.
#include <cstdint>
#include <span>
#include <vector>

#include "media/StreamRecords.h"
#include "avi/OdmlIndex.h"

namespace zentrova::avi {

struct HeaderStream {
  const StreamInfo* info;
  const std::vector<uint8_t>* format;  // strf body
  uint32_t chunkId;                    // "00dc", "01wb", ...
  uint32_t length;                     // dwLength: samples written
  uint32_t largestChunk;
  std::span<const SuperEntry> superIndex;
};

struct HeaderTotals {
  uint32_t riffSize = 0;        // size field of the first RIFF
  uint32_t moviSize = 0;        // size field of its movi list
  uint32_t framesInFirst = 0;   // avih: video frames in the first RIFF
  uint32_t totalFrames = 0;     // dmlh: video frames in the whole file
  uint32_t maxBytesPerSec = 0;
  bool hasLegacyIndex = false;  // idx1 present
  uint32_t superCapacity = 0;
};

inline constexpr uint32_t kAvifHasIndex = 0x10;        // AVIF_HASINDEX
inline constexpr uint32_t kAvifIsInterleaved = 0x100;  // AVIF_ISINTERLEAVED

std::vector<uint8_t> BuildHeader(const HeaderTotals& totals, std::span<const HeaderStream> streams,
                                 const FileTags& tags = {});

}  // namespace zentrova::avi
