#pragma once
// A large file looked at through a sliding read-only mapping of a few megabytes: the bytes are
// read where the page cache holds them, without being copied. Every read of the mapping runs
// guarded (recording/BusErrorGuard.h): when another program cuts the file short under it, the read
// says so, the mapping is given up, and the caller goes on reading with pread, which only sees
// the file end sooner. Memory stays at the window's size for a file of any length.
#include <cstddef>
#include <cstdint>

namespace zentrova {

class MappedFile {
 public:
  static constexpr size_t kWindow = 4u << 20;

  // Maps nothing yet. `size` is where reading ends (the file's length, or less).
  MappedFile(int fd, uint64_t size);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // False when the file cannot be mapped, or once a read found it cut short.
  bool usable() const { return usable_; }

  // As many bytes from `offset` as the window maps, at least `atLeast` (fewer only at the end);
  // `available` receives the count. Moves the window when it must. nullptr past the end or when
  // the file cannot be mapped (then usable() is false). Read the bytes only through Guarded.
  const uint8_t* Span(uint64_t offset, size_t atLeast, size_t& available);

  // Runs fn() over bytes of the window; false when the file was cut short under it, and the
  // mapping is not used again (the window stays mapped until destruction, so that pointers into
  // it held by the caller never point at nothing).
  template <typename Fn>
  bool Guarded(Fn& fn);

  // Copies [offset, offset + count) when the window holds it: false when it does not, or when
  // the file was cut short under it.
  bool CopyOut(uint64_t offset, size_t count, uint8_t* out);

  // Bytes of the file mapped so far.
  uint64_t bytesMapped() const { return bytesMapped_; }

 private:
  bool RunGuardedFn(void (*fn)(void*), void* arg);

  int fd_;
  uint64_t size_;
  bool usable_ = true;
  const uint8_t* map_ = nullptr;
  uint64_t start_ = 0;
  size_t length_ = 0;
  uint64_t bytesMapped_ = 0;
};

template <typename Fn>
bool MappedFile::Guarded(Fn& fn) {
  return RunGuardedFn([](void* f) { (*static_cast<Fn*>(f))(); }, &fn);
}

}  // namespace zentrova
