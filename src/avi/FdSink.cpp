#include "avi/FdSink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/Refusal.h"

namespace zentrova::avi {
namespace {

// A write that signals keep interrupting is given up after this many tries in a row, so that a
// cancel never waits on a write that cannot finish.
constexpr int kMaxInterruptions = 64;

}  // namespace

FdSink::FdSink(int fd) : fd_(fd) {
  struct stat st {};
  regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

FdSink::~FdSink() {
  if (fd_ >= 0) ::close(fd_);
}

Expected<void> FdSink::WriteAt(uint64_t offset, std::initializer_list<Piece> pieces) {
  constexpr size_t kMaxPieces = 8;
  iovec vec[kMaxPieces];
  size_t count = 0;
  for (const Piece& p : pieces) {
    if (p.size == 0) continue;
    if (count == kMaxPieces) return Refusal("too many pieces for one write");
    vec[count++] = {const_cast<void*>(p.data), p.size};
  }
  return WriteAll(offset, vec, count);
}

Expected<void> FdSink::Truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Refusal(std::strerror(errno));
  return {};
}

Expected<void> FdSink::SyncData() {
  if (!regular_) return {};
  int interruptions = 0;
  while (::fdatasync(fd_) != 0) {
    if (errno == EINTR && ++interruptions < kMaxInterruptions) continue;
    return Failed(errno);
  }
  return {};
}

Expected<void> FdSink::Failed(int err) {
  if (error_ == 0) error_ = err;
  return Refusal(std::strerror(err));
}

// pwritev may stop short (a signal, a nearly full disk): go on from where it stopped until
// everything is out or the system reports an error.
Expected<void> FdSink::WriteAll(uint64_t offset, iovec* vec, size_t count) {
  size_t first = 0;
  int interruptions = 0;
  while (first < count) {
    const ssize_t n = ::pwritev(fd_, vec + first, static_cast<int>(count - first), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR && ++interruptions < kMaxInterruptions) continue;
    // A write that puts down nothing without an error is a full disk as well.
    if (n <= 0) return Failed(n < 0 ? errno : ENOSPC);
    interruptions = 0;
    offset += static_cast<uint64_t>(n);
    size_t done = static_cast<size_t>(n);
    while (first < count && done >= vec[first].iov_len) done -= vec[first++].iov_len;
    if (first < count) {
      vec[first].iov_base = static_cast<char*>(vec[first].iov_base) + done;
      vec[first].iov_len -= done;
    }
  }
  return {};
}

}  // namespace zentrova::avi
