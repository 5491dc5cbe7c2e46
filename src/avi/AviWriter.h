#pragma once
// Lays out an AVI file as samples arrive: the header, then RIFF segments of interleaved chunks.
// The first segment is 'RIFF AVI ' with a legacy idx1; once it is full the file goes on in
// 'RIFF AVIX' segments (OpenDML), each under 1 GiB, every segment ending with one standard index
// per stream that the super indexes in the header point at. Finish() writes the indexes of the
// last segment and rewrites the header with the final counts.
//
// A write that fails (a full disk) is cut off again and reported; the file stays as it was
// before it, so that a completed file always opens.
//
// The file on disk is kept current while it grows, so that a process killed at any moment leaves
// a file whose headers and index are at most a refresh interval behind its chunks. About once a
// second the standard index of each stream in the open segment is brought up to date in a
// reserved index chunk inside the movi list (placed at the end of the data, and moved to a new,
// twice as large one when full; the one it leaves becomes JUNK), then the RIFF and movi sizes and
// the header (counts, super indexes pointing at those index chunks) are rewritten in place. The
// writes go in an order that keeps every prefix of them a consistent file.
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/StreamRecords.h"
#include "avi/ByteSink.h"
#include "base/Expected.h"
#include "avi/OdmlIndex.h"

namespace zentrova::avi {

struct WriterLimits {
  // Largest RIFF segment, header and indexes included.
  uint64_t segmentBytes = (uint64_t{1} << 30) - (uint64_t{1} << 20);
  // Entries reserved in each super index: the number of segments a file can have.
  uint32_t superIndexCapacity = 256;
  // How often the headers and indexes on disk are brought up to date while the file grows: 0
  // after every write, kNoRefresh never (the file is only complete once finished).
  uint32_t refreshMilliseconds = 1000;
  static constexpr uint32_t kNoRefresh = UINT32_MAX;
  // Chunks of one stream in one segment: a segment closes before its index (and the first
  // segment's idx1) grows past this, so the writer's memory stays bounded however long the
  // file (their indexes take at most about 2 MB while a segment is closed). 16,384 frames are
  // about 11 minutes at 25 per second; with 256 segments a file holds 46 hours of them.
  uint32_t segmentEntries = 16384;
};

class AviWriter {
 public:
  AviWriter(std::unique_ptr<ByteSink> sink, WriterLimits limits);
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Adds a stream and gives its number; refused once samples have been written (the header is
  // fixed by then).
  Expected<int> AddStream(const StreamInfo& info);
  Expected<void> SetFormat(int stream, const void* format, int32_t size);
  Expected<void> Write(int stream, int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags);
  StreamInfo Info(int stream) const;
  // The rate and scale of a stream's header, until the file completes: the final header
  // carries them (the one written before the first sample carries the first ones).
  Expected<void> SetRate(int stream, uint32_t rate, uint32_t scale);
  // The start time (IDIT) and the INFO list; before the first sample only, since they live in
  // the header, whose size is fixed by then.
  Expected<void> SetTags(const FileTags& tags);

  // Completes the file; later writes are refused. Also done by the destructor.
  void Finish();

  // Brings the headers and indexes on disk up to date with what has been written. False when
  // a write failed; the file is then as current as the last refresh that succeeded.
  bool Refresh();

  // Frames of the first video stream written so far (after Finish: what the file holds).
  uint64_t VideoLength() const;

 private:
  struct Stream {
    StreamInfo info;
    std::vector<uint8_t> format;
    int number = -1;  // position in the header; streams without a format get none
    uint32_t chunkId = 0;
    uint64_t length = 0;  // samples written
    uint64_t lengthAtSegmentStart = 0;
    uint32_t largestChunk = 0;
    std::vector<ChunkEntry> entries;  // chunks of the open segment
    uint64_t segmentDuration = 0;
    std::vector<SuperEntry> superIndex;
    // The reserved index chunk of the open segment: its offset (0: none), its room in entries,
    // and the entries on disk in it.
    uint64_t region = 0;
    uint32_t regionCapacity = 0;
    size_t regionEntries = 0;
    uint64_t regionDuration = 0;  // ticks the entries on disk cover
  };

  bool IsVideo(const Stream& s) const;
  bool EnsureHeader();
  std::vector<uint8_t> Header(bool final) const;
  bool FillGap(Stream& s, uint64_t gap);
  bool AppendChunk(Stream& s, const void* data, uint32_t size, uint32_t samples, bool key);
  bool HasRoomFor(const Stream& s, uint64_t chunkBytes) const;
  bool OpenSegment();
  bool CloseSegment();
  void DropOpenSegment();
  bool TrimChunks(size_t count);
  bool UpdateRegion(Stream& s, bool mayMove);
  SuperEntry RegionEntry(const Stream& s) const;
  bool WriteCurrentHeader(bool final);
  void ForgetRegionsFrom(uint64_t offset);

  std::unique_ptr<ByteSink> sink_;
  WriterLimits limits_;
  std::vector<Stream> streams_;
  FileTags tags_;
  bool headerWritten_ = false;
  bool finished_ = false;
  bool segmentOpen_ = false;
  int segmentNumber_ = 0;  // 0: the 'AVI ' segment, then the 'AVIX' ones
  uint64_t riffStart_ = 0;
  uint64_t moviStart_ = 0;  // the 'LIST' of the open segment's movi list
  uint64_t end_ = 0;        // where the next chunk goes
  uint64_t dataBytes_ = 0;
  std::vector<LegacyEntry> legacy_;
  bool legacyWritten_ = false;
  uint32_t firstRiffSize_ = 0;
  uint32_t firstMoviSize_ = 0;
  uint64_t framesInFirst_ = 0;
  // Index chunks no longer pointed at; they become JUNK once a header without them is on disk.
  std::vector<uint64_t> staleRegions_;
  std::chrono::steady_clock::time_point lastRefresh_;
};

}  // namespace zentrova::avi
