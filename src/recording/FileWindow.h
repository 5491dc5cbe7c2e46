#pragma once
// Reads a large file through one window of memory: sequential scans load it a few megabytes at a
// time, and short looks ahead (a block header, the first bytes of a frame) come from the same
// window when they fall inside it. Memory stays at the window's size for a file of any length.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zentrova {

class FileWindow {
 public:
  // Longest span one call may ask for.
  static constexpr size_t kMaxSpan = 1u << 20;

  FileWindow(int fd, uint64_t fileSize, size_t windowBytes = 8u << 20);

  // The bytes [offset, offset + count), or nullptr when the file ends before offset + count.
  // count <= kMaxSpan. The pointer stays valid until the next call. Throws ReadError.
  const uint8_t* Get(uint64_t offset, size_t count);
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
  void Load(uint64_t offset);

  int fd_;
  uint64_t size_;
  std::vector<uint8_t> buffer_;
  uint64_t start_ = 0;
  size_t length_ = 0;
  uint64_t bytesRead_ = 0;
};

// The size of a regular file or a block device open at `fd`; false when it is neither.
bool SizeOfReadable(int fd, uint64_t& size, int& err);

}  // namespace zentrova
