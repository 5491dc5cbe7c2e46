#include "recording/FileWindow.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zentrova {

FileWindow::FileWindow(int fd, uint64_t fileSize, size_t windowBytes)
    : fd_(fd), size_(fileSize), buffer_(std::max(windowBytes, 2 * kMaxSpan)) {}

void FileWindow::Load(uint64_t offset) {
  // Aligned to the page, so that reads stay aligned for the page cache and block devices.
  start_ = offset & ~uint64_t{4095};
  length_ = 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size_ - std::min(size_, start_)));
  while (length_ < want) {
    const ssize_t n = ::pread(fd_, buffer_.data() + length_, want - length_, static_cast<off_t>(start_ + length_));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ReadError{errno};
    }
    length_ += static_cast<size_t>(n);
  }
  bytesRead_ += length_;
}

const uint8_t* FileWindow::Get(uint64_t offset, size_t count) {
  if (count > kMaxSpan || offset > size_ || count > size_ - offset) return nullptr;
  if (offset < start_ || offset + count > start_ + length_) Load(offset);
  if (offset + count > start_ + length_) return nullptr;  // the file shrank while it was read
  return buffer_.data() + (offset - start_);
}

const uint8_t* FileWindow::Span(uint64_t offset, size_t atLeast, size_t& available) {
  available = 0;
  if (offset >= size_) return nullptr;
  atLeast = std::min<uint64_t>({atLeast, kMaxSpan, size_ - offset});
  if (offset < start_ || offset + atLeast > start_ + length_) Load(offset);
  if (offset < start_ || offset >= start_ + length_) return nullptr;
  available = static_cast<size_t>(start_ + length_ - offset);
  return buffer_.data() + (offset - start_);
}

bool SizeOfReadable(int fd, uint64_t& size, int& err) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    err = errno;
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
      err = errno;
      return false;
    }
    size = bytes;
    return true;
  }
  err = 0;
  return false;
}

}  // namespace zentrova
