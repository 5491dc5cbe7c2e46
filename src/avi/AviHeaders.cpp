#include "avi/AviHeaders.h"

#include <algorithm>
#include <cstring>

#include "avi/Dates.h"
#include "avi/RiffBuffer.h"

namespace zentrova::avi {
namespace {

constexpr uint32_t kDmlhBytes = 248;  // dwTotalFrames and 61 reserved longs

bool IsVideo(const StreamInfo& info) { return info.fccType == FourCC('v', 'i', 'd', 's'); }

// The picture format of the first video stream, or a zero one when there is none.
BitmapInfoHeader VideoFormat(std::span<const HeaderStream> streams) {
  BitmapInfoHeader bih{};
  bih.biWidth = 0;
  bih.biHeight = 0;
  for (const HeaderStream& s : streams) {
    if (!IsVideo(*s.info) || s.format->size() < sizeof bih) continue;
    std::memcpy(&bih, s.format->data(), sizeof bih);
    break;
  }
  return bih;
}

const StreamInfo* FirstVideo(std::span<const HeaderStream> streams) {
  for (const HeaderStream& s : streams)
    if (IsVideo(*s.info)) return s.info;
  return nullptr;
}

void PutMainHeader(RiffBuffer& out, const HeaderTotals& totals, std::span<const HeaderStream> streams) {
  const StreamInfo* video = FirstVideo(streams);
  uint32_t usPerFrame = 0;
  if (video && video->dwRate != 0)
    usPerFrame = static_cast<uint32_t>(uint64_t{1000000} * video->dwScale / video->dwRate);
  uint32_t suggested = 0;
  for (const HeaderStream& s : streams) suggested = std::max({suggested, s.info->dwSuggestedBufferSize, s.largestChunk});
  const BitmapInfoHeader bih = VideoFormat(streams);

  const size_t mark = out.OpenChunk(FourCC('a', 'v', 'i', 'h'));
  out.Put32(usPerFrame);
  out.Put32(totals.maxBytesPerSec);
  out.Put32(0);  // padding granularity
  out.Put32(kAvifIsInterleaved | (totals.hasLegacyIndex ? kAvifHasIndex : 0));
  out.Put32(totals.framesInFirst);
  out.Put32(0);  // initial frames
  out.Put32(static_cast<uint32_t>(streams.size()));
  out.Put32(suggested);
  out.Put32(static_cast<uint32_t>(bih.biWidth));
  out.Put32(static_cast<uint32_t>(bih.biHeight < 0 ? -int64_t{bih.biHeight} : bih.biHeight));
  out.PutZeros(16);
  out.Close(mark);
}

// The 56-byte strh body: the stream-info record in the order every AVI reader expects, with the
// frame rectangle as four 16-bit values.
void PutStreamHeader(RiffBuffer& out, const HeaderStream& s) {
  const StreamInfo& i = *s.info;
  const size_t mark = out.OpenChunk(FourCC('s', 't', 'r', 'h'));
  out.Put32(i.fccType);
  out.Put32(i.fccHandler);
  out.Put32(i.dwFlags);
  out.Put16(i.wPriority);
  out.Put16(i.wLanguage);
  out.Put32(i.dwInitialFrames);
  out.Put32(i.dwScale);
  out.Put32(i.dwRate);
  out.Put32(i.dwStart);
  out.Put32(s.length);
  out.Put32(i.dwSuggestedBufferSize);
  out.Put32(static_cast<uint32_t>(i.dwQuality));
  out.Put32(i.dwSampleSize);
  out.Put16(static_cast<uint16_t>(i.rcFrame.left));
  out.Put16(static_cast<uint16_t>(i.rcFrame.top));
  out.Put16(static_cast<uint16_t>(i.rcFrame.right));
  out.Put16(static_cast<uint16_t>(i.rcFrame.bottom));
  out.Close(mark);
}

void PutStreamList(RiffBuffer& out, const HeaderStream& s, uint32_t superCapacity) {
  const size_t list = out.OpenList(FourCC('s', 't', 'r', 'l'));
  PutStreamHeader(out, s);
  const size_t strf = out.OpenChunk(FourCC('s', 't', 'r', 'f'));
  out.PutBytes(s.format->data(), s.format->size());
  out.Close(strf);
  if (!s.info->name.empty()) {
    const size_t strn = out.OpenChunk(FourCC('s', 't', 'r', 'n'));
    out.PutBytes(s.info->name.c_str(), s.info->name.size() + 1);
    out.Close(strn);
  }
  AppendSuperIndex(out, s.chunkId, s.superIndex, superCapacity);
  out.Close(list);
}

void PutExtendedHeader(RiffBuffer& out, uint32_t totalFrames) {
  const size_t list = out.OpenList(FourCC('o', 'd', 'm', 'l'));
  const size_t dmlh = out.OpenChunk(FourCC('d', 'm', 'l', 'h'));
  out.Put32(totalFrames);
  out.PutZeros(kDmlhBytes - 4);
  out.Close(dmlh);
  out.Close(list);
}

// A zero-terminated text chunk.
void PutText(RiffBuffer& out, uint32_t fourcc, const std::string& text) {
  const size_t mark = out.OpenChunk(fourcc);
  out.PutBytes(text.data(), text.size());
  out.Put8(0);
  out.Close(mark);
}

// The start time in the AVI date form, the one readers parse ("Thu Jan 10 21:20:00 2008"),
// ended by a line feed and a zero as the classic writers leave it.
void PutStartDate(RiffBuffer& out, const FileTags& tags) {
  if (!tags.hasStartTime) return;
  PutText(out, FourCC('I', 'D', 'I', 'T'), AviDate(tags.startTime) + "\n");
}

void PutInfoList(RiffBuffer& out, const FileTags& tags) {
  if (!tags.hasStartTime && tags.title.empty() && tags.comment.empty() && tags.software.empty()) return;
  const size_t list = out.OpenList(FourCC('I', 'N', 'F', 'O'));
  const std::string& title = tags.infoTitle.empty() ? tags.title : tags.infoTitle;
  const std::string& comment = tags.infoComment.empty() ? tags.comment : tags.infoComment;
  if (!title.empty()) PutText(out, FourCC('I', 'N', 'A', 'M'), title);
  if (!comment.empty()) PutText(out, FourCC('I', 'C', 'M', 'T'), comment);
  if (tags.hasStartTime) PutText(out, FourCC('I', 'C', 'R', 'D'), IsoUtc(tags.startTime));
  if (!tags.software.empty()) PutText(out, FourCC('I', 'S', 'F', 'T'), tags.software);
  out.Close(list);
}

}  // namespace

std::vector<uint8_t> BuildHeader(const HeaderTotals& totals, std::span<const HeaderStream> streams,
                                 const FileTags& tags) {
  RiffBuffer out;
  out.Put32(FourCC('R', 'I', 'F', 'F'));
  out.Put32(totals.riffSize);
  out.Put32(FourCC('A', 'V', 'I', ' '));
  const size_t hdrl = out.OpenList(FourCC('h', 'd', 'r', 'l'));
  PutMainHeader(out, totals, streams);
  for (const HeaderStream& s : streams) PutStreamList(out, s, totals.superCapacity);
  PutExtendedHeader(out, totals.totalFrames);
  PutStartDate(out, tags);
  out.Close(hdrl);
  PutInfoList(out, tags);
  out.Put32(FourCC('L', 'I', 'S', 'T'));
  out.Put32(totals.moviSize);
  out.Put32(FourCC('m', 'o', 'v', 'i'));
  return std::move(out.bytes());
}

}  // namespace zentrova::avi
