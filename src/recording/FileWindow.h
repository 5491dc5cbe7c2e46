#pragma once
// Reads a large file through one window of memory: sequential scans load it a few megabytes at a
// time, and short looks ahead (a block header, the first bytes of a frame) come from the same
// window when they fall inside it. Memory stays at the window's size for a file of any length.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace zentrova {

class FileWindow {
 public:
  // Longest span one call may ask for.
  static constexpr size_t kMaxSpan = 1u << 20;

  // A megabyte a read: small windows cost more in the read-ahead's hand-overs than they save in
  // the processor's cache (bench/recovery/scan_rate.sh).
  FileWindow(int fd, uint64_t fileSize, size_t windowBytes = 1024u << 10);
  ~FileWindow();
  FileWindow(const FileWindow&) = delete;
  FileWindow& operator=(const FileWindow&) = delete;

  // For reading front to back: a thread reads the next window while the caller looks at this
  // one, so that copying from the page cache and looking at the bytes share two cores. Without a
  // thread to be had, the window reads as before.
  void EnableReadAhead();

  // The bytes [offset, offset + count), or nullptr when the file ends before offset + count.
  // count <= kMaxSpan. The pointer stays valid until the next call. Throws ReadError.
  const uint8_t* Get(uint64_t offset, size_t count);
  // The bytes [offset, offset + count) when the window holds them already, else nullptr: never
  // reads, so pointers from earlier calls stay valid.
  const uint8_t* Peek(uint64_t offset, size_t count) const {
    return offset >= start_ && offset + count <= start_ + length_ ? buffer_.data() + (offset - start_) : nullptr;
  }
  // As many bytes from `offset` as the window holds, at least `atLeast` (fewer only at the end of
  // the file); `available` receives the count. nullptr at or past the end.
  const uint8_t* Span(uint64_t offset, size_t atLeast, size_t& available);

  uint64_t size() const { return size_; }
  // Bytes read from the file so far.
  uint64_t bytesRead() const { return bytesRead_; }

  struct ReadError {
    int err;
  };

 private:
  void Load(uint64_t offset, size_t count);
  bool TakeReadAhead(uint64_t offset, size_t count);
  void StartReadAhead();
  void ReadAheadLoop();

  int fd_;
  uint64_t size_;
  std::vector<uint8_t> buffer_;
  size_t window_;

  // The read-ahead: `spare_` is filled from `spareStart_` by the thread while `reading_`.
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t> spare_;
  uint64_t spareStart_ = 0;
  size_t spareLength_ = 0;
  int spareError_ = 0;
  bool reading_ = false, ready_ = false, quit_ = false;
  uint64_t start_ = 0;
  size_t length_ = 0;
  uint64_t bytesRead_ = 0;
};

// The size of a regular file or a block device open at `fd`; false when it is neither.
bool SizeOfReadable(int fd, uint64_t& size, int& err);

}  // namespace zentrova
