// The writer's RIFF segments and the reserved index chunks of the open one.
#include "avi/AviWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "avi/AviHeaders.h"
#include "avi/AviLayout.h"
#include "avi/RiffBuffer.h"

namespace zentrova::avi {

using namespace layout;

SuperEntry AviWriter::RegionEntry(const Stream& s) const {
  return {s.region, static_cast<uint32_t>(StandardIndexBytes(s.regionCapacity)), static_cast<uint32_t>(s.regionDuration)};
}

// Brings the reserved index chunk of `s` up to the stream's entries of the open segment: the new
// entries first, then the count that admits them. When the chunk is full (or there is none yet)
// and `mayMove`, a new one twice the size goes at the end of the data; the old one stays what
// the header on disk points at until a header naming the new one is written.
bool AviWriter::UpdateRegion(Stream& s, bool mayMove) {
  const size_t n = s.entries.size();
  if (s.region != 0 && s.regionCapacity >= n) {
    const size_t from = std::min(s.regionEntries, n);
    RiffBuffer buf;
    for (size_t i = from; i < n; ++i) {
      buf.Put32(static_cast<uint32_t>(s.entries[i].dataOffset - riffStart_));
      buf.Put32(s.entries[i].size | (s.entries[i].key ? 0 : kDeltaFrame));
    }
    uint8_t count[4];
    StoreLe32(count, static_cast<uint32_t>(n));
    if (buf.size() > 0 && !sink_->WriteAt(s.region + kIndexEntriesAt + 8 * from, {{buf.data(), buf.size()}}))
      return false;
    if (!sink_->WriteAt(s.region + kIndexCountAt, {{count, 4}})) return false;
    s.regionEntries = n;
    s.regionDuration = s.segmentDuration;
    return true;
  }
  if (!mayMove) return false;
  // Room for the chunk and for the final indexes of every stream, which may all end up at the
  // end of the segment.
  uint64_t indexes = 0;
  for (const Stream& t : streams_)
    if (!t.entries.empty()) indexes += StandardIndexBytes(t.entries.size());
  if (segmentNumber_ == 0) indexes += LegacyIndexBytes(legacy_.size());
  uint64_t capacity = std::max<uint64_t>(kFirstRegionEntries, 2 * uint64_t{n});
  if (end_ + StandardIndexBytes(capacity) + indexes - riffStart_ > limits_.segmentBytes) capacity = n;
  if (end_ + StandardIndexBytes(capacity) + indexes - riffStart_ > limits_.segmentBytes) return false;
  RiffBuffer buf;
  AppendStandardIndex(buf, IndexTag(s.number), s.chunkId, riffStart_, s.entries);
  buf.PutZeros(8 * (capacity - n));
  buf.Patch32(4, static_cast<uint32_t>(StandardIndexBytes(capacity) - 8));
  if (!sink_->WriteAt(end_, {{buf.data(), buf.size()}})) {
    (void)sink_->Truncate(end_);  // a cut that fails leaves bytes no list or index names
    return false;
  }
  if (s.region != 0) staleRegions_.push_back(s.region);
  s.region = end_;
  s.regionCapacity = static_cast<uint32_t>(capacity);
  s.regionEntries = n;
  s.regionDuration = s.segmentDuration;
  end_ += buf.size();
  return true;
}

void AviWriter::ForgetRegionsFrom(uint64_t offset) {
  for (Stream& s : streams_) {
    if (s.region >= offset) {
      s.region = 0;
      s.regionCapacity = 0;
      s.regionEntries = 0;
      s.regionDuration = 0;
    }
    s.regionEntries = std::min(s.regionEntries, s.entries.size());
  }
  std::erase_if(staleRegions_, [offset](uint64_t at) { return at >= offset; });
}

bool AviWriter::HasRoomFor(const Stream& s, uint64_t chunkBytes) const {
  if (s.entries.size() >= std::max<uint32_t>(limits_.segmentEntries, 1)) return false;
  uint64_t indexes = 0;
  for (const Stream& t : streams_) {
    const uint64_t n = t.entries.size() + (&t == &s ? 1 : 0);
    if (n > 0) indexes += StandardIndexBytes(n);
  }
  if (segmentNumber_ == 0) indexes += LegacyIndexBytes(legacy_.size() + 1);
  return end_ + chunkBytes + indexes - riffStart_ <= limits_.segmentBytes;
}

bool AviWriter::OpenSegment() {
  // A segment the super indexes have no room for could never be found again.
  for (const Stream& s : streams_)
    if (s.superIndex.size() >= limits_.superIndexCapacity) return false;
  uint8_t head[kSegmentHeaderBytes];
  StoreLe32(head, FourCC('R', 'I', 'F', 'F'));
  StoreLe32(head + 4, kSegmentHeaderBytes - 8);
  StoreLe32(head + 8, FourCC('A', 'V', 'I', 'X'));
  StoreLe32(head + 12, FourCC('L', 'I', 'S', 'T'));
  StoreLe32(head + 16, 4);
  StoreLe32(head + 20, FourCC('m', 'o', 'v', 'i'));
  if (!sink_->WriteAt(end_, {{head, sizeof head}})) {
    (void)sink_->Truncate(end_);  // a cut that fails leaves bytes no list or index names
    return false;
  }
  riffStart_ = end_;
  moviStart_ = end_ + 12;
  end_ += kSegmentHeaderBytes;
  ++segmentNumber_;
  segmentOpen_ = true;
  return true;
}

bool AviWriter::CloseSegment() {
  RiffBuffer buf;
  std::vector<std::pair<Stream*, SuperEntry>> added;
  for (Stream& s : streams_) {
    if (s.entries.empty()) continue;
    if (s.superIndex.size() >= limits_.superIndexCapacity) return false;
    // The reserved index chunk takes the segment's index when it has room; otherwise the index
    // goes at the end and the reserved chunk is left to become JUNK.
    if (s.region != 0 && s.regionCapacity >= s.entries.size()) {
      if (!UpdateRegion(s, false)) return false;
      added.push_back({&s, RegionEntry(s)});
      continue;
    }
    const size_t at = buf.size();
    AppendStandardIndex(buf, IndexTag(s.number), s.chunkId, riffStart_, s.entries);
    added.push_back({&s, {end_ + at, static_cast<uint32_t>(buf.size() - at), static_cast<uint32_t>(s.segmentDuration)}});
  }
  const uint64_t moviEnd = end_ + buf.size();
  if (segmentNumber_ == 0) AppendLegacyIndex(buf, legacy_);
  const uint64_t segmentEnd = end_ + buf.size();
  uint8_t riffSize[4], moviSize[4];
  StoreLe32(riffSize, static_cast<uint32_t>(segmentEnd - riffStart_ - 8));
  StoreLe32(moviSize, static_cast<uint32_t>(moviEnd - moviStart_ - 8));
  if (!sink_->WriteAt(end_, {{buf.data(), buf.size()}}) || !sink_->WriteAt(riffStart_ + 4, {{riffSize, 4}}) ||
      !sink_->WriteAt(moviStart_ + 4, {{moviSize, 4}})) {
    (void)sink_->Truncate(end_);  // a cut that fails leaves bytes no list or index names
    return false;
  }
  for (auto& [s, entry] : added) s->superIndex.push_back(entry);
  for (Stream& s : streams_) {
    if (s.region != 0 && (s.superIndex.empty() || s.superIndex.back().offset != s.region))
      staleRegions_.push_back(s.region);
    s.region = 0;
    s.regionCapacity = 0;
    s.regionEntries = 0;
    s.regionDuration = 0;
    s.entries.clear();
    s.segmentDuration = 0;
    s.lengthAtSegmentStart = s.length;
  }
  if (segmentNumber_ == 0) {
    firstRiffSize_ = static_cast<uint32_t>(segmentEnd - 8);
    firstMoviSize_ = static_cast<uint32_t>(moviEnd - moviStart_ - 8);
    framesInFirst_ = VideoLength();
    legacyWritten_ = true;
    legacy_ = {};
  }
  end_ = segmentEnd;
  segmentOpen_ = false;
  return true;
}

// Takes back a continuation segment whose index could not be written: without its index no
// OpenDML reader would find its chunks, so the file ends with the segment before it.
void AviWriter::DropOpenSegment() {
  (void)sink_->Truncate(riffStart_);  // a cut that fails leaves bytes no list or index names
  end_ = riffStart_;
  for (Stream& s : streams_) {
    s.length = s.lengthAtSegmentStart;
    s.entries.clear();
    s.segmentDuration = 0;
  }
  ForgetRegionsFrom(riffStart_);
  segmentOpen_ = false;
}

}  // namespace zentrova::avi
