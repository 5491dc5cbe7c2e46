#pragma once
// A disk in memory for the writer targets: bytes that grow as they are written, and a sink over
// them that fails the way a full disk or a dying one does.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "avi/ByteSink.h"
#include "base/Refusal.h"

namespace zentrova::fuzz {

// A growable byte buffer on malloc, which the allocation budget leaves alone: the sink stands for
// a disk, and a disk does not run out of the process's memory.
class Buffer {
 public:
  Buffer() = default;
  ~Buffer() { std::free(data_); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void resize(size_t n) {
    if (n > capacity_) {
      size_t c = std::max<size_t>(n, capacity_ * 2);
      auto* p = static_cast<uint8_t*>(std::realloc(data_, c));
      if (!p) std::abort();
      data_ = p;
      capacity_ = c;
    }
    if (n > size_) std::memset(data_ + size_, 0, n - size_);
    size_ = n;
  }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Bytes in memory; every write beyond the first `failAfterWrites` fails, and so does one that
// reaches past `capacity` bytes, leaving part of its bytes behind as a real file would.
class MemorySink final : public avi::ByteSink {
 public:
  MemorySink(Buffer& bytes, uint64_t capacity, uint32_t failAfterWrites, bool& failed)
      : bytes_(bytes), capacity_(capacity), writesLeft_(failAfterWrites), failed_(failed) {}

  Expected<void> WriteAt(uint64_t offset, std::initializer_list<avi::Piece> pieces) override {
    uint64_t total = 0;
    for (const avi::Piece& p : pieces) total += p.size;
    const bool fails = writesLeft_ == 0 || offset + total > capacity_;
    if (writesLeft_ > 0 && writesLeft_ != UINT32_MAX) --writesLeft_;
    if (fails) failed_ = true;
    // A failing write leaves about half of what fits behind.
    const uint64_t room = offset < capacity_ ? capacity_ - offset : 0;
    uint64_t allowed = fails ? std::min(total, room) / 2 : total;
    if (offset > bytes_.size() && allowed > 0) bytes_.resize(offset);
    uint64_t at = offset;
    for (const avi::Piece& p : pieces) {
      const uint64_t n = std::min<uint64_t>(p.size, allowed);
      if (n == 0) break;
      if (at + n > bytes_.size()) bytes_.resize(at + n);
      std::memcpy(bytes_.data() + at, p.data, n);
      at += n;
      allowed -= n;
    }
    if (fails) return Refusal("No space left on device");
    return {};
  }

  Expected<void> Truncate(uint64_t size) override {
    if (size > capacity_) return Refusal("No space left on device");
    bytes_.resize(size);
    return {};
  }

 private:
  Buffer& bytes_;
  uint64_t capacity_;
  uint32_t writesLeft_;
  bool& failed_;
};

}  // namespace zentrova::fuzz
