#pragma once
// Pieces the fuzz targets share: a recording held in memory under a file name, a folder that is
// removed at exit, a reader of operation bytes, and the allocation budget of the failing-allocation
// builds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zentrova::fuzz {

// The input as an anonymous in-memory file, opened by name through /proc/self/fd: nothing is left
// on disk, whatever the target does or however it ends.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) {
    fd_ = ::memfd_create("zentrova-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) return;
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// A private folder under /dev/shm (or the temporary folder), removed with its contents when it
// goes out of scope. One per input: libFuzzer may end the process without running exit handlers.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Takes little-endian values off the front of the input; once it is used up every value is 0.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  size_t left() const { return size_ - at_; }
  uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) | static_cast<uint32_t>(u16()) << 16; }
  // Up to `n` bytes of the input itself (fewer near its end).
  const uint8_t* take(size_t& n) {
    if (n > left()) n = left();
    const uint8_t* p = data_ + at_;
    at_ += n;
    return p;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// While one is alive, in the failing-allocation build of a target, every allocation after the
// first N throws std::bad_alloc (or returns null for the nothrow forms). N is the environment's
// ZENTROVA_FUZZ_ALLOCATIONS when set, otherwise taken from a hash of the input so that each input
// reproduces its own failure point. In the ordinary build it does nothing.
class AllocationBudget {
 public:
  AllocationBudget(const uint8_t* data, size_t size);
  ~AllocationBudget();
  AllocationBudget(const AllocationBudget&) = delete;
  AllocationBudget& operator=(const AllocationBudget&) = delete;
  // Allocation failures are off again until the end of the scope (for the target's own checks).
  static void Pause();
  // Whether an allocation was refused since the budget was armed.
  static bool Refused();
};

}  // namespace zentrova::fuzz
