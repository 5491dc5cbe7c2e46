#include "recording/MappedFile.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "recording/BusErrorGuard.h"

namespace zentrova {

MappedFile::MappedFile(int fd, uint64_t size) : fd_(fd), size_(size) {
  if (!InstallBusErrorHandler()) usable_ = false;
}

MappedFile::~MappedFile() {
  if (map_) ::munmap(const_cast<uint8_t*>(map_), length_);
}

const uint8_t* MappedFile::Span(uint64_t offset, size_t atLeast, size_t& available) {
  available = 0;
  if (!usable_ || offset >= size_) return nullptr;
  const uint64_t end = start_ + length_;
  const bool held = map_ && offset >= start_ && offset < end && (offset + atLeast <= end || end == size_);
  if (!held) {
    if (map_) ::munmap(const_cast<uint8_t*>(map_), length_);
    map_ = nullptr;
    start_ = offset & ~uint64_t{4095};
    length_ = static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - start_));
    void* p = ::mmap(nullptr, length_, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(start_));
    if (p == MAP_FAILED) {
      usable_ = false;
      length_ = 0;
      return nullptr;
    }
    // A disk image not in the page cache is read ahead of the search, as a sequential read is.
    ::madvise(p, length_, MADV_SEQUENTIAL);
    map_ = static_cast<const uint8_t*>(p);
    bytesMapped_ += length_;
  }
  available = static_cast<size_t>(start_ + length_ - offset);
  return map_ + (offset - start_);
}

bool MappedFile::RunGuardedFn(void (*fn)(void*), void* arg) {
  if (!usable_ || !map_) return false;
  if (RunGuardedCall(map_, length_, fn, arg)) return true;
  usable_ = false;
  return false;
}

bool MappedFile::CopyOut(uint64_t offset, size_t count, uint8_t* out) {
  if (!usable_ || !map_ || offset < start_ || offset + count > start_ + length_) return false;
  const uint8_t* from = map_ + (offset - start_);
  auto copy = [&] { std::memcpy(out, from, count); };
  return Guarded(copy);
}

}  // namespace zentrova
