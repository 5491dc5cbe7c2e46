#include "avi/AviWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "avi/AviHeaders.h"
#include "avi/AviLayout.h"
#include "avi/RiffBuffer.h"
#include "base/Refusal.h"

namespace zentrova::avi {

using namespace layout;

AviWriter::AviWriter(std::unique_ptr<ByteSink> sink, WriterLimits limits)
    : sink_(std::move(sink)), limits_(limits), lastRefresh_(std::chrono::steady_clock::now()) {
  // RIFF sizes and index offsets are 32-bit.
  limits_.segmentBytes = std::min<uint64_t>(limits_.segmentBytes, UINT32_MAX);
}

AviWriter::~AviWriter() {
  // Completing the file needs memory for the indexes and the header; without it the file stays as
  // the last write left it, rather than the release ending the program.
  try {
    Finish();
  } catch (const std::bad_alloc&) {
  }
}

bool AviWriter::IsVideo(const Stream& s) const { return s.info.fccType == FourCC('v', 'i', 'd', 's'); }

Expected<int> AviWriter::AddStream(const StreamInfo& info) {
  if (headerWritten_ || finished_) return Refusal("a stream cannot be added once samples are written");
  if (streams_.size() >= 100) return Refusal("the file holds 100 streams at most");
  streams_.push_back(Stream{});
  streams_.back().info = info;
  return static_cast<int>(streams_.size() - 1);
}

StreamInfo AviWriter::Info(int stream) const {
  if (stream < 0 || static_cast<size_t>(stream) >= streams_.size()) return {};
  return streams_[stream].info;
}

Expected<void> AviWriter::SetRate(int stream, uint32_t rate, uint32_t scale) {
  if (finished_) return Refusal("the file is complete");
  if (stream < 0 || static_cast<size_t>(stream) >= streams_.size()) return Refusal("no such stream");
  if (rate == 0 || scale == 0) return Refusal("a stream's rate and scale are never 0");
  streams_[stream].info.dwRate = rate;
  streams_[stream].info.dwScale = scale;
  return {};
}

Expected<void> AviWriter::SetTags(const FileTags& tags) {
  if (headerWritten_ || finished_) return Refusal("the tags cannot change once samples are written");
  tags_ = tags;
  return {};
}

Expected<void> AviWriter::SetFormat(int stream, const void* format, int32_t size) {
  constexpr int32_t kMaxFormatBytes = 1 << 20;
  if (headerWritten_ || finished_) return Refusal("a format cannot change once samples are written");
  if (stream < 0 || static_cast<size_t>(stream) >= streams_.size()) return Refusal("no such stream");
  if (!format || size <= 0 || size > kMaxFormatBytes) return Refusal("the format record is empty or too large");
  Stream& s = streams_[stream];
  if (IsVideo(s) && size < static_cast<int32_t>(sizeof(BitmapInfoHeader)))
    return Refusal("a picture format is shorter than a bitmap header");
  const auto* p = static_cast<const uint8_t*>(format);
  s.format.assign(p, p + size);
  // A compressed picture format names its codec; the stream header names it too.
  if (IsVideo(s) && s.info.fccHandler == 0) {
    BitmapInfoHeader bih;
    std::memcpy(&bih, p, sizeof bih);
    s.info.fccHandler = bih.biCompression;
  }
  return {};
}

uint64_t AviWriter::VideoLength() const {
  for (const Stream& s : streams_)
    if (IsVideo(s)) return s.length;
  return 0;
}

std::vector<uint8_t> AviWriter::Header(bool final) const {
  std::vector<HeaderStream> list;
  // The super indexes name the closed segments and, while the file grows, the reserved index
  // chunk of the open one.
  std::vector<std::vector<SuperEntry>> supers(streams_.size());
  for (size_t i = 0; i < streams_.size(); ++i) {
    const Stream& s = streams_[i];
    if (s.number < 0) continue;
    supers[i] = s.superIndex;
    if (segmentOpen_ && s.region != 0 && s.regionEntries > 0 && supers[i].size() < limits_.superIndexCapacity)
      supers[i].push_back(RegionEntry(s));
    list.push_back({&s.info, &s.format, s.chunkId, static_cast<uint32_t>(s.length), s.largestChunk, supers[i]});
  }
  HeaderTotals t;
  const bool firstOpen = !legacyWritten_;
  t.riffSize = firstOpen ? static_cast<uint32_t>(end_ - 8) : firstRiffSize_;
  t.moviSize = firstOpen ? static_cast<uint32_t>(end_ - moviStart_ - 8) : firstMoviSize_;
  t.framesInFirst = static_cast<uint32_t>(firstOpen ? VideoLength() : framesInFirst_);
  t.totalFrames = static_cast<uint32_t>(VideoLength());
  t.hasLegacyIndex = legacyWritten_;
  t.superCapacity = limits_.superIndexCapacity;
  for (const Stream& s : streams_) {
    if (!final || !IsVideo(s) || s.info.dwRate == 0 || s.length == 0) continue;
    const uint64_t ticks = s.length * s.info.dwScale;  // seconds = ticks / rate
    if (ticks == 0) break;
    const uint64_t perSecond = (dataBytes_ * s.info.dwRate + ticks - 1) / ticks;
    t.maxBytesPerSec = static_cast<uint32_t>(std::min<uint64_t>(perSecond, UINT32_MAX));
    break;
  }
  if (!headerWritten_ && !final) {  // before the first sample: an empty movi list
    t.riffSize = 0;
    t.moviSize = 4;
  }
  return BuildHeader(t, list, tags_);
}

bool AviWriter::EnsureHeader() {
  if (headerWritten_) return true;
  int number = 0;
  for (Stream& s : streams_) {
    if (s.format.empty()) continue;
    s.number = number++;
    if (!IsVideo(s)) {
      s.chunkId = StreamTag(s.number, s.info.fccType == FourCC('a', 'u', 'd', 's') ? 'w' : 'd',
                            s.info.fccType == FourCC('a', 'u', 'd', 's') ? 'b' : 'c');
      continue;
    }
    BitmapInfoHeader bih;
    std::memcpy(&bih, s.format.data(), sizeof bih);
    s.chunkId = StreamTag(s.number, 'd', bih.biCompression == 0 ? 'b' : 'c');  // 'db' is an uncompressed DIB
  }
  const std::vector<uint8_t> header = Header(false);
  if (!sink_->WriteAt(0, {{header.data(), header.size()}})) {
    (void)sink_->Truncate(0);  // a cut that fails leaves bytes no header names
    for (Stream& s : streams_) s.number = -1;
    return false;
  }
  headerWritten_ = true;
  segmentOpen_ = true;
  segmentNumber_ = 0;
  riffStart_ = 0;
  end_ = header.size();
  moviStart_ = end_ - 12;
  return true;
}

Expected<void> AviWriter::Write(int stream, int32_t start, int32_t samples, const void* data, int32_t bytes,
                                uint32_t flags) {
  if (finished_) return Refusal("the file is complete");
  if (stream < 0 || static_cast<size_t>(stream) >= streams_.size()) return Refusal("no such stream");
  Stream& s = streams_[stream];
  if (s.format.empty()) return Refusal("the stream has no format yet");
  if (samples <= 0 || bytes < 0 || (bytes > 0 && !data)) return Refusal("no samples to write");
  // A stream without a sample size holds one sample (a frame) per chunk; one with a sample
  // size holds whole samples.
  const uint64_t sampleSize = s.info.dwSampleSize;
  if (sampleSize == 0 ? samples != 1 : uint64_t(samples) * sampleSize != uint64_t(bytes))
    return Refusal("the bytes are not whole samples of the stream");
  if (uint64_t(bytes) > kMaxChunkBytes) return Refusal("the samples are too large for one chunk");
  const uint64_t at = start < 0 ? s.length : uint64_t(start);
  if (at < s.length || at - s.length > kMaxGap || at + uint64_t(samples) > UINT32_MAX)
    return Refusal("the samples are out of the stream's order");
  if (!EnsureHeader() || !FillGap(s, at - s.length)) return Refusal("the file could not be written");
  const bool key = sampleSize != 0 || (flags & kKeyFrame);
  if (!AppendChunk(s, data, static_cast<uint32_t>(bytes), static_cast<uint32_t>(samples), key)) return Refusal("the file could not be written");
  s.length += uint64_t(samples);
  if (limits_.refreshMilliseconds != WriterLimits::kNoRefresh &&
      std::chrono::steady_clock::now() - lastRefresh_ >= std::chrono::milliseconds(limits_.refreshMilliseconds))
    Refresh();  // a refresh that fails leaves the file as current as the one before
  return {};
}

bool AviWriter::Refresh() {
  lastRefresh_ = std::chrono::steady_clock::now();
  if (!headerWritten_ || finished_) return true;
  bool ok = true;
  if (segmentOpen_) {
    for (Stream& s : streams_)
      if (!s.entries.empty() && !UpdateRegion(s, true)) ok = false;
    if (segmentNumber_ > 0) {
      // A continuation segment carries its sizes in its own head.
      uint8_t riffSize[4], moviSize[4];
      StoreLe32(riffSize, static_cast<uint32_t>(end_ - riffStart_ - 8));
      StoreLe32(moviSize, static_cast<uint32_t>(end_ - moviStart_ - 8));
      if (!sink_->WriteAt(moviStart_ + 4, {{moviSize, 4}}) || !sink_->WriteAt(riffStart_ + 4, {{riffSize, 4}}))
        ok = false;
    }
  }
  return WriteCurrentHeader(false) && ok;
}

bool AviWriter::WriteCurrentHeader(bool final) {
  const std::vector<uint8_t> header = Header(final);
  if (!sink_->WriteAt(0, {{header.data(), header.size()}})) return false;
  // No header on disk names the stale index chunks any more: readers that walk the movi list
  // pass over them as JUNK.
  static const uint32_t kJunk = FourCC('J', 'U', 'N', 'K');
  uint8_t junk[4];
  StoreLe32(junk, kJunk);
  // A mark that fails leaves an index no header names, which readers pass over as well.
  for (uint64_t at : staleRegions_) (void)sink_->WriteAt(at, {{junk, 4}});
  staleRegions_.clear();
  return true;
}

bool AviWriter::FillGap(Stream& s, uint64_t gap) {
  static const uint8_t kSilence[kSilenceBytes] = {};
  const uint64_t sampleSize = s.info.dwSampleSize;
  if (sampleSize > kSilenceBytes) return gap == 0;
  while (gap > 0) {
    const uint64_t n = sampleSize == 0 ? 1 : std::min<uint64_t>(gap, kSilenceBytes / sampleSize);
    const bool key = sampleSize != 0;  // an empty video chunk is a dropped frame, not a key frame
    if (!AppendChunk(s, kSilence, static_cast<uint32_t>(n * sampleSize), static_cast<uint32_t>(n), key)) return false;
    s.length += n;
    gap -= n;
  }
  return true;
}

bool AviWriter::AppendChunk(Stream& s, const void* data, uint32_t size, uint32_t samples, bool key) {
  if (!segmentOpen_ && !OpenSegment()) return false;
  const uint64_t chunkBytes = 8 + uint64_t{size} + (size & 1);
  if (!HasRoomFor(s, chunkBytes)) {
    const bool segmentEmpty = end_ == moviStart_ + 12;
    if (segmentEmpty || !CloseSegment() || !OpenSegment() || !HasRoomFor(s, chunkBytes)) return false;
    Refresh();  // the header on disk names the segment just closed
  }
  uint8_t head[8];
  StoreLe32(head, s.chunkId);
  StoreLe32(head + 4, size);
  static const uint8_t kPad = 0;
  if (!sink_->WriteAt(end_, {{head, 8}, {data, size}, {&kPad, size & 1u}})) {
    (void)sink_->Truncate(end_);  // cut off whatever part of the chunk reached the disk, if it can be
    return false;
  }
  s.entries.push_back({end_ + 8, size, key});
  if (segmentNumber_ == 0)
    legacy_.push_back({s.chunkId, key ? kLegacyKeyFrame : 0, static_cast<uint32_t>(end_ - (moviStart_ + 8)), size});
  end_ += chunkBytes;
  dataBytes_ += size;
  s.segmentDuration += samples;
  s.largestChunk = std::max(s.largestChunk, size);
  return true;
}

bool AviWriter::TrimChunks(size_t count) {
  for (; count > 0; --count) {
    Stream* last = nullptr;
    for (Stream& s : streams_)
      if (!s.entries.empty() && (!last || s.entries.back().dataOffset > last->entries.back().dataOffset)) last = &s;
    if (!last) {
      (void)sink_->Truncate(end_);  // the chunks taken back so far must leave the disk too
      return false;
    }
    const ChunkEntry e = last->entries.back();
    last->entries.pop_back();
    const uint64_t samples = last->info.dwSampleSize ? e.size / last->info.dwSampleSize : 1;
    last->length -= samples;
    last->segmentDuration -= samples;
    dataBytes_ -= e.size;
    if (segmentNumber_ == 0 && !legacy_.empty()) legacy_.pop_back();
    end_ = e.dataOffset - 8;
  }
  ForgetRegionsFrom(end_);
  (void)sink_->Truncate(end_);  // bytes past the end that stay are outside every list and index
  return true;
}

void AviWriter::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!EnsureHeader()) return;
  // When the disk is full the indexes of the last segment may not fit: give up the segment's
  // last chunks, twice as many each time, until they do.
  for (size_t trim = 1; segmentOpen_; trim *= 2) {
    if (segmentNumber_ > 0 && end_ == moviStart_ + 12) {
      DropOpenSegment();  // an empty continuation segment
      break;
    }
    if (CloseSegment()) break;
    if (!TrimChunks(trim)) {
      if (segmentNumber_ > 0) DropOpenSegment();
      break;
    }
  }
  WriteCurrentHeader(true);
}

}  // namespace zentrova::avi
