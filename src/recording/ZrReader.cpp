#include "recording/ZrReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Refusal.h"
#include "recording/FileKind.h"
#include "recording/LittleEndian.h"
#include "recording/ReadOnlyFile.h"
#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

// Texts go through a 1024-byte reading buffer that also takes the terminating zero.
constexpr uint32_t kTextBufferBytes = 1024;

// The classic reports for a file error, with "an unnamed file" where the file's name would stand:
// a failing read does not name its file.
std::string FileErrorText(int err) {
  switch (err) {
    case ENOENT: return "An unnamed file was not found.";
    case ENAMETOOLONG:
    case ENOTDIR: return "An unnamed file contains an invalid path.";
    case EMFILE:
    case ENFILE: return "An unnamed file could not be opened because there are too many open files.";
    case ESPIPE: return "Seek failed on an unnamed file";
    case EACCES:
    case EPERM:
    case EISDIR: return "Access to an unnamed file was denied.";
    case EBADF: return "An invalid file handle was associated with an unnamed file.";
    case EIO: return "A hardware I/O error was reported while accessing an unnamed file.";
    case ETXTBSY: return "A sharing violation occurred while accessing an unnamed file.";
    case ENOLCK: return "A locking violation occurred while accessing an unnamed file.";
    case ENOSPC: return "Disk full while accessing an unnamed file.";
    case ENOMEM: return "Out of memory.";
    default: return "An unknown error occurred while accessing an unnamed file.";
  }
}


}  // namespace

ZrReader::ZrReader(std::string text2, std::string text1, std::string text3)
    : text1_(std::move(text1)), text2_(std::move(text2)), text3_(std::move(text3)) {}

ZrReader::~ZrReader() { close(); }

Error ZrReader::Fail(Error error) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  found_ = false;
  index_.clear();
  index_.shrink_to_fit();
  totalFrames_ = 0;
  readError_ = 0;
  return error;
}

Error ZrReader::FileError(const char* whenCancelled) {
  const int err = readError_;
  readError_ = 0;
  if (err == EINTR && Cancelled()) return Refusal(whenCancelled, ErrorKind::Cancelled);
  Error error = Refusal("Out of memory.");
  try {
    error.reason = FileErrorText(err);
  } catch (const std::bad_alloc&) {
  }
  if (fileErrorSink_) fileErrorSink_(error.reason);
  return error;
}

// Reads as much of [offset, offset + count) as the file holds. A short count means the end of the
// file, or an operating-system failure: that one is kept in readError_, every later read returns
// nothing, and the open or fetch that made the reads reports it.
size_t ZrReader::ReadAt(uint64_t offset, void* buffer, size_t count) {
  if (readError_ != 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  while (got < count) {
    // A found recording's own offsets lead through its extents to where its bytes lie.
    uint64_t at = offset + got;
    size_t want = count - got;
    if (found_) {
      auto e = std::upper_bound(extents_.begin(), extents_.end(), at,
                                [](uint64_t v, const Extent& x) { return v < x.from; });
      if (e == extents_.begin()) break;
      --e;
      if (at >= e->from + e->length) break;
      want = static_cast<size_t>(std::min<uint64_t>(want, e->from + e->length - at));
      at = at - e->from + e->at;
    }
    ssize_t n = ::pread(fd_, out + got, want, static_cast<off_t>(at));
    if (n == 0) break;
    if (n < 0) {
      // A signal that asks to cancel ends the read; any other interruption is retried.
      if (errno == EINTR && !Cancelled()) continue;
      readError_ = errno;
      break;
    }
    got += static_cast<size_t>(n);
  }
  return got;
}

namespace {
constexpr const char* kCancelledOpening = "cancelled while opening";
}  // namespace

Expected<void> ZrReader::open(const std::string& path, RecordingInfo* info) {
  if (fd_ >= 0) return Refusal("the reader already holds a recording");
  try {
    // Opened without blocking, so that a FIFO with no writer or a device that waits for its medium
    // answers at once; only a regular file is read.
    fd_ = OpenReadOnly(path, O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
      const int err = errno;
      struct stat named {};
      if (err == ENXIO && ::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode))
        return Fail(Failure(std::string("not a regular file but ") + KindOfFile(named.st_mode)));
      return Fail(Failure(std::string("cannot open the file: ") + std::strerror(err)));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return Fail(Failure(std::string("cannot open the file: ") + std::strerror(errno)));
    if (!S_ISREG(st.st_mode)) return Fail(Failure(std::string("not a regular file but ") + KindOfFile(st.st_mode)));
    const int fileFlags = ::fcntl(fd_, F_GETFL);
    if (fileFlags >= 0) ::fcntl(fd_, F_SETFL, fileFlags & ~O_NONBLOCK);
    fileLength_ = static_cast<uint64_t>(st.st_size);
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);

    uint8_t bytes[kFileHeaderSize];
    size_t got = ReadAt(0, bytes, sizeof bytes);
    if (readError_) return Fail(FileError(kCancelledOpening));
    if (auto valid = ValidateHeader(bytes, got); !valid) return Fail(valid.error());

    uint64_t pos = kFileHeaderSize;
    if (auto text = ReadText(pos, header_.text1Length, text1_, "text1"); !text)
      return Fail(readError_ ? FileError(kCancelledOpening) : text.error());
    if (auto text = ReadText(pos, header_.text2Length, text2_, "text2"); !text)
      return Fail(readError_ ? FileError(kCancelledOpening) : text.error());
    if (header_.version >= 256) {
      text3_.clear();
      uint8_t len[4];
      if (ReadAt(pos, len, 4) != 4)
        return Fail(readError_ ? FileError(kCancelledOpening) : Refusal("the file ends before the length of text3"));
      pos += 4;
      uint32_t text3Length = Le32(len);
      if (text3Length >= kTextBufferBytes)
        return Fail(Failure("text3 is " + std::to_string(text3Length) + " bytes long, at most " +
                            std::to_string(kTextBufferBytes - 1) + " are allowed"));
      if (auto text = ReadText(pos, text3Length, text3_, "text3"); !text)
        return Fail(readError_ ? FileError(kCancelledOpening) : text.error());
    } else {
      text3_.clear();
    }
    if (header_.version >= 257) {
      uint8_t utc[4];
      if (ReadAt(pos, utc, 4) != 4)
        return Fail(readError_ ? FileError(kCancelledOpening) : Refusal("the file ends before utcOffsetHours"));
      utcOffsetHours_ = static_cast<int32_t>(Le32(utc));
    } else {
      utcOffsetHours_ = 0;
    }

    if (info) {
      const PictureSize size = *SizeOfResolutionCode(header_.resolutionCode);
      info->aux1 = header_.aux1;
      info->aux2 = header_.aux2;
      info->width = size.width;
      info->height = size.height;
      info->sizeFamily = header_.resolutionCode >> 7;
    }

    auto indexed = IndexBlocks();
    if (readError_) return Fail(FileError(kCancelledOpening));
    if (!indexed) return Fail(indexed.error());
    found_ = false;
    LookBeyondChain();
    if (readError_) return Fail(FileError(kCancelledOpening));
  } catch (const std::bad_alloc&) {
    if (fileErrorSink_) fileErrorSink_("Out of memory.");
    return Fail(Refusal("Out of memory."));
  }
  cursor_ = Cursor{static_cast<uint64_t>(index_[0].offset) + kBlockHeaderSize, 0, 0};
  return {};
}

Expected<void> ZrReader::ValidateHeader(const uint8_t* b, size_t got) {
  if (got < kFileHeaderSize) {
    return Failure("not a ZR recording: the file holds " + std::to_string(got) +
                     " bytes, fewer than the 36 of a header");
  }
  header_.magic[0] = static_cast<char>(b[0]);
  header_.magic[1] = static_cast<char>(b[1]);
  header_.version = Le16(b + 2);
  header_.resolutionCode = b[4];
  header_.aux1 = b[5];
  header_.aux2 = b[6];
  header_.limitByte = b[7];
  header_.startTime = static_cast<int32_t>(Le32(b + 8));
  header_.endTime = static_cast<int32_t>(Le32(b + 12));
  header_.createTick = Le32(b + 16);
  header_.text1Length = Le16(b + 20);
  header_.text2Length = Le16(b + 22);
  header_.firstBlockOffset = Le32(b + 28);

  if (b[0] != 'Z' || b[1] != 'R') {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%02X %02X", b[0], b[1]);
    return Failure(std::string("not a ZR recording: the file starts with ") + hex + ", not 5A 52 (\"ZR\")");
  }
  if (header_.version > kMaxVersion) {
    return Failure("format version " + std::to_string(header_.version) + " is newer than 4096");
  }
  if (header_.limitByte > kMaxLimitByte) {
    return Failure("header byte 7 is " + std::to_string(header_.limitByte) + ", above 160");
  }
  const uint8_t sizeIndex = header_.resolutionCode & 0x7F;
  const uint8_t maxIndex = header_.version <= 257 ? 3 : 5;
  if (sizeIndex > maxIndex || !SizeOfResolutionCode(header_.resolutionCode)) {
    return Failure("resolution code " + std::to_string(header_.resolutionCode) +
                     " is not valid in a file of version " + std::to_string(header_.version));
  }
  if (header_.text1Length > kMaxTextLength) {
    return Failure("text1 is " + std::to_string(header_.text1Length) + " bytes long, at most 1000 are allowed");
  }
  if (header_.text2Length > kMaxTextLength) {
    return Failure("text2 is " + std::to_string(header_.text2Length) + " bytes long, at most 1000 are allowed");
  }
  return {};
}

Expected<void> ZrReader::ReadText(uint64_t& pos, uint32_t length, std::string& text, const char* name) {
  if (length == 0) return {};  // an empty text keeps the value it had
  char buffer[kTextBufferBytes];
  if (ReadAt(pos, buffer, length) != length) {
    return Failure(std::string("the file ends inside ") + name);
  }
  pos += length;
  // A zero byte inside the text ends it early.
  text.assign(buffer, strnlen(buffer, length));
  return {};
}

namespace {

// The place of the first block in `index` that an earlier entry already holds; its size when
// none does.
template <typename Index>
size_t FirstRepeatedBlock(const Index& index) {
  std::vector<std::pair<uint32_t, size_t>> order(index.size());
  for (size_t i = 0; i < index.size(); ++i) order[i] = {index[i].offset, i};
  std::sort(order.begin(), order.end());
  size_t first = index.size();
  for (size_t i = 1; i < order.size(); ++i)
    if (order[i].first == order[i - 1].first) first = std::min(first, order[i].second);
  return first;
}

}  // namespace

Expected<void> ZrReader::IndexBlocks() {
  index_.clear();
  chainProblem_.clear();
  index_.reserve(1024);
  totalFrames_ = 0;

  // The chain is followed until a link is -1 or points at or past the end of the file. A chain
  // that comes back to a block already indexed would never end; Brent's cycle search finds the
  // loop with no memory beyond the index itself, and the index is then cut just before the first
  // block seen twice.
  uint64_t tortoise = header_.firstBlockOffset;
  uint64_t power = 1, lambda = 1;
  uint64_t p = header_.firstBlockOffset;
  bool looped = false;
  // Where blocks lie close together (a million empty ones, say) their headers are read through a
  // window of the file, a read per window rather than one per block; blocks that hold frames are
  // far apart, and for them only the 16 header bytes are read.
  constexpr size_t kWindowBytes = 64 * 1024;
  constexpr uint64_t kCloseBlocks = 1024;
  std::vector<uint8_t> window(kWindowBytes);
  uint64_t windowStart = 0;
  size_t windowBytes = 0;
  bool dense = false;
  uint64_t claimed = 0;  // the least the blocks indexed so far take
  for (;;) {
    if (p < fileLength_ && (p < windowStart || p + kBlockHeaderSize > windowStart + windowBytes)) {
      windowStart = p;
      windowBytes = ReadAt(p, window.data(), dense ? window.size() : kBlockHeaderSize);
    }
    if (p >= fileLength_ || p + kBlockHeaderSize > windowStart + windowBytes) {
      if (!index_.empty()) chainProblem_ = "its last block header is cut short";
      break;
    }
    const uint8_t* bh = window.data() + (p - windowStart);
    if ((index_.size() & 4095) == 4095 && Cancelled()) {
      return Refusal("cancelled while indexing the blocks", ErrorKind::Cancelled);
    }
    if (index_.size() >= kMaxBlocks) {
      return Failure("the block chain has more than " + std::to_string(kMaxBlocks) + " blocks");
    }
    index_.push_back(BlockEntry{static_cast<uint32_t>(p), Le16(bh + 8), Le32(bh + 12), 0});
    const uint32_t next = Le32(bh + 4);
    // Blocks never overlap: a block takes at least its header and a frame header per frame it
    // declares. A chain whose blocks claim more than that, or more than the whole file, ends at
    // this block, so the work is bounded by the file's size, however the links run.
    const uint64_t extent = kBlockHeaderSize + uint64_t{index_.back().frameCount} * kFrameHeaderSize;
    claimed += extent;
    if (next != kNoBlock && next < fileLength_ &&
        ((next > p && next < p + extent) || claimed > fileLength_ - header_.firstBlockOffset)) {
      // A chain that loops claims more than the file too: it is cut before its first repeat.
      const size_t repeat = FirstRepeatedBlock(index_);
      chainProblem_ = repeat < index_.size() ? "its block chain comes back to a block already read"
                                             : "its blocks overlap one another";
      index_.resize(repeat);
      break;
    }
    if (next == kNoBlock || next >= fileLength_) {
      // A link to just past the end may be a recorder's way to end; one beyond it is a file cut short.
      if (next != kNoBlock && next > fileLength_) chainProblem_ = "its block chain goes on past the end of the file";
      break;
    }
    if (next < header_.firstBlockOffset || next < kFileHeaderSize) {
      // A link back into the file header (a zeroed block header links to offset 0) reads no block.
      chainProblem_ = "a block link points back into the file header";
      break;
    }
    if (next == tortoise) {
      looped = true;
      chainProblem_ = "its block chain comes back to a block already read";
      break;
    }
    dense = next > p && next - p <= kCloseBlocks;
    // Brent: the tortoise jumps to the hare at every power of two.
    if (power == lambda) {
      tortoise = next;
      power *= 2;
      lambda = 0;
    }
    ++lambda;
    p = next;
  }

  if (looped) {
    // index_ holds x0, x1, ... with x(next) == tortoise; the cycle is lambda long. The first
    // repeated block is the first i with x(i) == x(i + lambda).
    const size_t cycle = static_cast<size_t>(lambda);
    size_t keep = index_.size();
    for (size_t i = 0; i + cycle < index_.size(); ++i) {
      if (index_[i].offset == index_[i + cycle].offset) {
        keep = i + cycle;
        break;
      }
    }
    index_.resize(keep);
  }

  uint64_t total = 0;
  for (BlockEntry& e : index_) {
    e.firstFrame = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
    total += e.frameCount;
  }
  if (index_.empty()) {
    return Refusal("the recording holds no block");
  }
  if (total == 0) {
    return Refusal("the recording holds no frame");
  }
  if (total > 0x7FFFFFFF) {
    return Refusal("the recording claims more than 2147483647 frames");
  }
  totalFrames_ = static_cast<int32_t>(total);
  return {};
}

uint32_t ZrReader::WholeFramesOfLastBlock() {
  // The scan only takes frames whose video opens like a picture, so a block of frames without one
  // (sound only) is walked by its frame headers: a frame is whole when it ends inside the file.
  const BlockEntry& last = index_.back();
  FrameRecord headerOnly;
  uint64_t pos = static_cast<uint64_t>(last.offset) + kBlockHeaderSize;
  uint32_t whole = 0;
  for (; whole < last.frameCount; ++whole) {
    uint64_t next = 0;
    if (!ReadFrameAt(&headerOnly, pos, next) || next > fileLength_) break;
    pos = next;
  }
  return whole;
}

void ZrReader::LookBeyondChain() {
  framesBeyondChain_ = 0;
  // Where the chain ended the way chains end, only what lies after its last block is looked at:
  // for a whole recording that is the last block's frames and nothing more. A chain that broke
  // off is compared with all the file holds.
  ScanOptions options;
  options.cancel = cancel_;
  const bool broke = !chainProblem_.empty();
  if (!broke) options.from = index_.back().offset;
  const ScanResult scan = ScanRecordings(fd_, options);
  uint64_t found = 0;
  for (const FoundRecording& r : scan.recordings) found += r.frames;
  // A broken chain may have read noise as a block, and its count with it: what the chain reaches
  // is what the scan found in the chain's own blocks, each up to the count its header declares.
  uint64_t reached = index_.back().frameCount;
  if (broke) {
    std::vector<std::pair<uint32_t, uint32_t>> blocks;
    blocks.reserve(index_.size());
    for (const BlockEntry& e : index_) blocks.emplace_back(e.offset, e.frameCount);
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    reached = 0;
    for (const FoundRecording& r : scan.recordings) {
      if (r.extents.size() != 1 || r.extents.front().from != r.extents.front().at) continue;
      for (const FrameRun& run : r.runs) {
        if (run.offset < kBlockHeaderSize) continue;
        const uint64_t at = run.offset - kBlockHeaderSize;
        auto it = std::lower_bound(blocks.begin(), blocks.end(), std::make_pair(static_cast<uint32_t>(at), 0u));
        if (it != blocks.end() && it->first == at) reached += std::min(run.frames, it->second);
      }
    }
  }
  lastBlockFramesFound_ = index_.back().frameCount;
  if (!broke) {
    const bool lastBlockFirst = !scan.recordings.empty() && !scan.recordings.front().runs.empty() &&
                                scan.recordings.front().runs.front().offset == index_.back().offset + kBlockHeaderSize;
    lastBlockFramesFound_ = lastBlockFirst ? std::min(scan.recordings.front().runs.front().frames,
                                                      index_.back().frameCount)
                                           : WholeFramesOfLastBlock();
  }
  if (found > reached) framesBeyondChain_ = static_cast<uint32_t>(std::min<uint64_t>(found - reached, 0x7FFFFFFF));
}

std::vector<std::string> ZrReader::damageWarnings() const {
  std::vector<std::string> warnings;
  if (found_ || index_.empty()) return warnings;
  if (framesBeyondChain_ > 0)
    warnings.push_back("the file holds " + std::to_string(framesBeyondChain_) +
                       " more frames after the end of the recording's block chain; convert --recover converts them");
  if (!chainProblem_.empty()) warnings.push_back(chainProblem_);
  if (chainProblem_.empty() && lastBlockFramesFound_ < index_.back().frameCount)
    warnings.push_back("its last block holds " + std::to_string(lastBlockFramesFound_) + " whole frames of the " +
                       std::to_string(index_.back().frameCount) + " it declares (the file is cut short or damaged)");
  if (header_.endTime == header_.startTime && totalFrames_ > 1)
    warnings.push_back("its end time equals its start time: it may never have been written (a recorder that lost "
                       "power)");
  return warnings;
}

Expected<void> ZrReader::openFound(const std::string& path, const FoundRecording& found, RecordingInfo* info) {
  if (fd_ >= 0) return Refusal("the reader already holds a recording");
  try {
    if (found.runs.empty() || found.extents.empty() || found.frames == 0) {
      return Refusal("the recording holds no frame");
    }
    const auto size = SizeOfResolutionCode(found.header.resolutionCode);
    if (!size) {
      return Failure("resolution code " + std::to_string(found.header.resolutionCode) + " is not valid");
    }
    fd_ = OpenReadOnly(path, O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) return Fail(Failure(std::string("cannot open the file: ") + std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return Fail(Failure(std::string("cannot open the file: ") + std::strerror(errno)));
    fileLength_ = static_cast<uint64_t>(st.st_size);
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
    header_ = FileHeader{};
    header_.magic[0] = 'Z';
    header_.magic[1] = 'R';
    header_.version = found.header.version;
    header_.resolutionCode = found.header.resolutionCode;
    header_.aux1 = found.header.aux1;
    header_.aux2 = found.header.aux2;
    header_.limitByte = found.header.limitByte;
    header_.startTime = found.header.startTime;
    header_.endTime = found.header.endTime;
    header_.createTick = found.header.createTick;
    text1_ = found.header.text1;
    text2_ = found.header.text2;
    text3_ = found.header.text3;
    utcOffsetHours_ = found.header.utcOffsetHours;
    if (info) {
      info->aux1 = header_.aux1;
      info->aux2 = header_.aux2;
      info->width = size->width;
      info->height = size->height;
      info->sizeFamily = header_.resolutionCode >> 7;
    }
    runs_ = found.runs;
    extents_ = found.extents;
    std::sort(extents_.begin(), extents_.end(), [](const Extent& a, const Extent& b) { return a.from < b.from; });
    index_.clear();
    uint64_t total = 0;
    for (const FrameRun& run : runs_) total += run.frames;
    if (total > 0x7FFFFFFF) return Fail(Refusal("the recording claims more than 2147483647 frames"));
    totalFrames_ = static_cast<int32_t>(total);
    found_ = true;
    chainProblem_.clear();
    framesBeyondChain_ = 0;
  } catch (const std::bad_alloc&) {
    return Fail(Refusal("Out of memory."));
  }
  cursor_ = Cursor{runs_.front().offset, 0, 0};
  return {};
}

Expected<void> ZrReader::FetchFound(FrameRecord* record) {
  Cursor c = cursor_;
  for (;;) {
    if (c.block >= runs_.size()) {
      return Refusal("the recording is exhausted", ErrorKind::End);
    }
    const FrameRun& run = runs_[c.block];
    if (c.frame < run.frames) {
      uint64_t next = 0;
      if (!ReadFrameAt(record, c.position, next)) {
        // The scan saw this frame whole; a file that changed since is cut here.
        return Refusal("the file changed since it was scanned");
      }
      record->afterGap = c.frame == 0 && run.afterGap;
      cursor_ = Cursor{next, c.block, c.frame + 1};
      return {};
    }
    ++c.block;
    c.frame = 0;
    if (c.block < runs_.size()) c.position = runs_[c.block].offset;
  }
}

bool ZrReader::ReadFrameAt(FrameRecord* r, uint64_t pos, uint64_t& next) {
  uint8_t h[kFrameHeaderSizeAudio];
  size_t got = ReadAt(pos, h, kFrameHeaderSize);
  if (got < kFrameHeaderSize) return false;
  const uint16_t flags = Le16(h + 2);
  uint32_t headerSize = kFrameHeaderSize;
  uint32_t audioBytes = 0;
  if (flags & FlagAudio) {
    if (ReadAt(pos + kFrameHeaderSize, h + kFrameHeaderSize, 4) != 4) return false;
    audioBytes = Le32(h + kFrameHeaderSize);
    headerSize = kFrameHeaderSizeAudio;
  }
  const uint32_t videoBytes = Le32(h + 8);
  r->frameTag = Le16(h);
  r->flags = flags;
  r->frameParam = Le32(h + 4);
  r->cut = false;
  r->afterGap = false;
  r->videoBytesDeclared = videoBytes;
  r->audioBytesDeclared = audioBytes;

  // A frame larger than the caller's buffer is cut to it; a frame that the file cuts short
  // reports the bytes that were there. Either way the next frame starts after the full frame.
  const uint64_t videoAt = pos + headerSize;
  const uint32_t videoWant = std::min(videoBytes, r->videoCapacity);
  const size_t videoGot = videoWant ? ReadAt(videoAt, r->videoData, videoWant) : 0;
  r->videoBytes = static_cast<uint32_t>(videoGot);
  r->cut = videoWant < videoBytes || videoGot < videoWant;
  if (flags & FlagAudio) {
    const uint32_t audioWant = std::min(audioBytes, r->audioCapacity);
    const size_t audioGot = audioWant ? ReadAt(videoAt + videoBytes, r->audioData, audioWant) : 0;
    r->audioBytes = static_cast<uint32_t>(audioGot);
    r->cut = r->cut || audioWant < audioBytes || audioGot < audioWant;
  }
  next = videoAt + videoBytes + audioBytes;
  return true;
}

Expected<void> ZrReader::fetchFrame(FrameRecord* record, int32_t block, int32_t frame) {
  if (fd_ < 0) return Refusal("no recording is open");
  if (record == nullptr) return Refusal("no frame to read into");
  Expected<void> fetched;
  const Cursor before = cursor_;
  try {
    if (found_)
      fetched = block < 0 ? FetchFound(record) : Refusal("a found recording is read in order only");
    else if (block < 0)
      fetched = FetchNext(record);
    else
      fetched = FetchPositioned(record, static_cast<uint32_t>(block), frame);
  } catch (const std::bad_alloc&) {
    if (fileErrorSink_) fileErrorSink_("Out of memory.");
    return Refusal("Out of memory.");
  }
  // A read the system refused ends the fetch however far it got: the frame is not delivered, and
  // the next fetch tries it again.
  if (readError_) {
    cursor_ = before;
    return FileError("cancelled while reading a frame");
  }
  return fetched;
}

Expected<void> ZrReader::FetchNext(FrameRecord* record) {
  Cursor c = cursor_;
  for (;;) {
    if (c.block >= index_.size()) {
      return Refusal("the recording is exhausted", ErrorKind::End);
    }
    if (c.frame < index_[c.block].frameCount) {
      uint64_t next = 0;
      if (ReadFrameAt(record, c.position, next)) {
        cursor_ = Cursor{next, c.block, c.frame + 1};
        return {};
      }
      // The file ends inside this frame's header: the rest of the block is not there.
      c.frame = index_[c.block].frameCount;
      continue;
    }
    // Zero-frame blocks are passed over; a new block is found through the index.
    ++c.block;
    c.frame = 0;
    if (c.block < index_.size()) c.position = static_cast<uint64_t>(index_[c.block].offset) + kBlockHeaderSize;
  }
}

Expected<void> ZrReader::FetchPositioned(FrameRecord* record, uint32_t block, int32_t frame) {
  if (block >= index_.size() || frame < 0) return Refusal("no such frame in the recording");
  uint32_t wanted = static_cast<uint32_t>(frame);
  if (wanted >= index_[block].frameCount) {
    // Past the block's end: the first frame of the next block that has one.
    do {
      if (++block >= index_.size()) return Refusal("the recording is exhausted", ErrorKind::End);
    } while (index_[block].frameCount == 0);
    wanted = 0;
  }
  uint64_t pos = static_cast<uint64_t>(index_[block].offset) + kBlockHeaderSize;
  // Frames are found by reading (and discarding) the ones before the wanted one.
  FrameRecord scratch = *record;
  for (uint32_t f = 0; f <= wanted; ++f) {
    uint64_t next = 0;
    FrameRecord& target = f == wanted ? *record : scratch;
    if (!ReadFrameAt(&target, pos, next)) return Refusal("the recording is exhausted", ErrorKind::End);
    pos = next;
  }
  cursor_ = Cursor{pos, block, wanted + 1};
  return {};
}

void ZrReader::rewind() {
  if (found_ && !runs_.empty()) cursor_ = Cursor{runs_.front().offset, 0, 0};
  else if (!found_ && !index_.empty()) cursor_ = Cursor{static_cast<uint64_t>(index_[0].offset) + kBlockHeaderSize, 0, 0};
}

void ZrReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  found_ = false;
  runs_.clear();
  extents_.clear();
  index_.clear();
  index_.shrink_to_fit();
  totalFrames_ = 0;
  cursor_ = Cursor{};
}

}  // namespace zentrova
