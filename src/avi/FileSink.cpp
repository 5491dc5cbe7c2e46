// The byte sink of a real file: positioned, gathered writes on a file descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "avi/ByteSink.h"

namespace zentrova::avi {
namespace {

class FileSink final : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  ~FileSink() override { ::close(fd_); }

  bool WriteAt(uint64_t offset, std::initializer_list<Piece> pieces) override {
    constexpr size_t kMaxPieces = 8;
    iovec vec[kMaxPieces];
    size_t count = 0;
    for (const Piece& p : pieces) {
      if (p.size == 0) continue;
      if (count == kMaxPieces) return false;
      vec[count++] = {const_cast<void*>(p.data), p.size};
    }
    return WriteAll(offset, vec, count);
  }

  bool Truncate(uint64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

 private:
  // pwritev may stop short (a signal, a nearly full disk): go on from where it stopped until
  // everything is out or the system reports an error.
  bool WriteAll(uint64_t offset, iovec* vec, size_t count) {
    size_t first = 0;
    while (first < count) {
      const ssize_t n = ::pwritev(fd_, vec + first, static_cast<int>(count - first), static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      offset += static_cast<uint64_t>(n);
      size_t done = static_cast<size_t>(n);
      while (first < count && done >= vec[first].iov_len) done -= vec[first++].iov_len;
      if (first < count) {
        vec[first].iov_base = static_cast<char*>(vec[first].iov_base) + done;
        vec[first].iov_len -= done;
      }
    }
    return true;
  }

  int fd_;
};

}  // namespace

std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, std::string* reason) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (reason) *reason = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<FileSink>(fd);
}

}  // namespace zentrova::avi
