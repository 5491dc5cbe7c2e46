#include "recording/FrameSummary.h"

#include <algorithm>

#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"
#include "video/BitReader.h"
#include "video/PictureHeader.h"

namespace zentrova {
namespace {
// The start code may begin as late as bit 160, and the header follows it.
constexpr uint32_t kVideoPeekBytes = 64;
}  // namespace

const char* PictureKindName(PictureKind kind) {
  switch (kind) {
    case PictureKind::Intra: return "intra";
    case PictureKind::Inter: return "inter";
    case PictureKind::None: break;
  }
  return "none";
}

std::vector<FrameSummary> ReadBlockSummaries(ZrReader& reader, uint32_t block) {
  std::vector<FrameSummary> frames;
  if (block >= reader.blocks().size()) return frames;
  const uint32_t count = reader.blocks()[block].frameCount;
  if (count == 0) return frames;
  // Only the picture header is read; the sound is counted from the header's byte count.
  uint8_t video[kVideoPeekBytes + 8] = {};
  FrameRecord record;
  record.videoData = video;
  record.videoCapacity = kVideoPeekBytes;
  record.audioCapacity = 0;
  // The count is the file's word: the list grows only by the frames actually read.
  frames.reserve(std::min<uint32_t>(count, 4096));
  for (uint32_t f = 0; f < count; ++f) {
    const auto got = f == 0 ? reader.fetchFrame(&record, static_cast<int32_t>(block), 0) : reader.fetchFrame(&record, -1, 0);
    if (!got) break;
    FrameSummary s;
    s.videoBytes = record.videoBytesDeclared;
    if (record.flags & FlagAudio) {
      s.audioBytes = record.audioBytesDeclared;
      s.samples = s.audioBytes / 3 * 8;
    }
    if (!(record.flags & FlagNoPicture) && record.videoBytes > 0) {
      BitReader bits;
      bits.Reset(video, record.videoBytes);
      if (FindStartCode(bits)) s.picture = ReadPictureHeader(bits).intra() ? PictureKind::Intra : PictureKind::Inter;
    }
    frames.push_back(s);
  }
  return frames;
}

}  // namespace zentrova
