#pragma once
// Reads one ZR recording: validates the header, indexes the block chain, hands out frames.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Expected.h"
#include "recording/FrameRecord.h"
#include "recording/RecordingScan.h"

namespace zentrova {

// Receives the reader's file-error reports ("Seek failed on an unnamed file", ...). The command
// line prints them on standard error, the desktop shows them in a message box.
using FileErrorSink = std::function<void(const std::string& message)>;

class ZrReader {
 public:
  // One block of the chain as opening indexed it, in chain order. Read only: callers place frames
  // by it (the recording's clock, positioned access) without reading what lies before them.
  struct BlockEntry {
    uint32_t offset;      // absolute file offset of the BlockHeader
    uint32_t frameCount;  // the block's 16-bit frameCount, widened
    uint32_t tick;        // blockTick: the recorder's millisecond counter when the block began
    uint32_t firstFrame;  // index, in the whole recording, of the block's first frame
  };

  // Initial texts, in the recorder's order: text2, text1, text3.
  ZrReader(std::string text2 = {}, std::string text1 = {}, std::string text3 = {});
  virtual ~ZrReader();
  ZrReader(const ZrReader&) = delete;
  ZrReader& operator=(const ZrReader&) = delete;

  void setFileErrorSink(FileErrorSink sink) { fileErrorSink_ = std::move(sink); }
  // A flag the front end sets to cancel: opening stops while it walks the block chain, and a
  // read that a signal interrupts is not retried once the flag is set.
  void setCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  // Opens an existing recording for reading; the error says why it cannot be read ("text1 is 1001
  // bytes long, ...").
  Expected<void> open(const std::string& path, RecordingInfo* info);

  // Opens a recording that a scan found (RecordingScan.h), perhaps damaged, perhaps one of several
  // in the file or in fragments: the frames are those the scan found, in its order, and the first
  // frame after lost ones has FrameRecord::afterGap set.
  Expected<void> openFound(const std::string& path, const FoundRecording& found, RecordingInfo* info);

  // block < 0: the frame after the one delivered last. block >= 0: positioned access. After the
  // last frame the error's kind is ErrorKind::End; a read the system refused is also reported to
  // the file-error sink.
  Expected<void> fetchFrame(FrameRecord* record, int32_t block, int32_t frame);
  // The next fetch with block < 0 delivers the first frame again, as after opening.
  void rewind();
  void close();

  int32_t frameCount() const { return totalFrames_; }
  uint16_t version() const { return header_.version; }
  int32_t startTime() const { return header_.startTime; }
  int32_t endTime() const { return header_.endTime; }

  // Beyond what the converter needs: what `zentrova info` shows.
  int32_t blockCount() const { return static_cast<int32_t>(index_.size()); }
  // Frames of one indexed block (0 for a block out of range), for callers of positioned access.
  uint32_t blockFrameCount(int32_t block) const {
    return block >= 0 && static_cast<size_t>(block) < index_.size() ? index_[static_cast<size_t>(block)].frameCount : 0;
  }
  // The indexed blocks (none for a recording opened through openFound, whose frames a scan found).
  const std::vector<BlockEntry>& blocks() const { return index_; }
  // The recorder's millisecond counter when the file was created; blocks' ticks count on from it.
  uint32_t createTick() const { return header_.createTick; }
  uint8_t resolutionCode() const { return header_.resolutionCode; }
  const std::string& text1() const { return text1_; }
  const std::string& text2() const { return text2_; }
  const std::string& text3() const { return text3_; }
  int32_t utcOffsetHours() const { return utcOffsetHours_; }
  bool isOpen() const { return fd_ >= 0; }
  // Device and inode of the open recording (valid after a successful open), so that a caller can
  // tell whether another name reaches the same file.
  uint64_t device() const { return device_; }
  uint64_t inode() const { return inode_; }
  // Empty when the block chain ended the way a recording's chain ends; otherwise how it ended
  // early ("its block chain goes on past the end of the file"): frames may be missing.
  const std::string& chainProblem() const { return chainProblem_; }
  // Frames the file holds that the block chain does not reach (after a link that was never
  // written, a damaged block header, a second recording): a scan after the chain found them.
  uint32_t framesBeyondChain() const { return framesBeyondChain_; }
  // What opening saw of damage, one line each, for `info` to warn about: frames past the chain,
  // a chain that broke off, a last block cut short, an end time never written.
  std::vector<std::string> damageWarnings() const;

  // A chain longer than this is refused, which bounds the index of a hostile file.
  static constexpr uint32_t kMaxBlocks = 1u << 24;

 private:
  struct FileHeader {
    char magic[2] = {0, 0};
    uint16_t version = 0;
    uint8_t resolutionCode = 0;
    uint8_t aux1 = 0;
    uint8_t aux2 = 0;
    uint8_t limitByte = 0;
    int32_t startTime = 0;
    int32_t endTime = 0;
    uint32_t createTick = 0;
    uint16_t text1Length = 0;
    uint16_t text2Length = 0;
    uint32_t firstBlockOffset = 0;
  };
  struct Cursor {
    uint64_t position = 0;
    uint32_t block = 0;
    uint32_t frame = 0;
  };

  // Forgets a recording whose opening failed, and passes the error on.
  Error Fail(Error error);
  // The read failure kept in readError_, as the user's line, reported to the file-error sink.
  Error FileError(const char* whenCancelled);
  bool Cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }
  Expected<void> ValidateHeader(const uint8_t* bytes, size_t got);
  Expected<void> ReadText(uint64_t& pos, uint32_t length, std::string& text, const char* name);
  Expected<void> IndexBlocks();
  void LookBeyondChain();
  uint32_t WholeFramesOfLastBlock();
  Expected<void> FetchFound(FrameRecord* record);
  size_t ReadAt(uint64_t offset, void* buffer, size_t count);
  bool ReadFrameAt(FrameRecord* record, uint64_t pos, uint64_t& next);
  Expected<void> FetchNext(FrameRecord* record);
  Expected<void> FetchPositioned(FrameRecord* record, uint32_t block, int32_t frame);

  std::string text1_;
  std::string text2_;
  std::string text3_;
  int32_t utcOffsetHours_ = 0;
  int fd_ = -1;
  uint64_t fileLength_ = 0;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  const std::atomic<bool>* cancel_ = nullptr;
  FileHeader header_;
  int32_t totalFrames_ = 0;
  std::vector<BlockEntry> index_;
  Cursor cursor_;
  FileErrorSink fileErrorSink_;
  int readError_ = 0;  // errno of a read the system refused, until the open or fetch reports it
  std::string chainProblem_;
  uint32_t framesBeyondChain_ = 0;
  uint32_t lastBlockFramesFound_ = 0;  // frames of the last block that the file holds whole
  // A found recording: its frames in runs, its bytes where the scan found them.
  bool found_ = false;
  std::vector<FrameRun> runs_;
  std::vector<Extent> extents_;
};

}  // namespace zentrova
