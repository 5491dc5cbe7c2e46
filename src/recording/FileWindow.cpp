#include "recording/FileWindow.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace zentrova {

// The buffer is taken at the first read: a window the scan never needs costs no memory.
FileWindow::FileWindow(int fd, uint64_t fileSize, size_t windowBytes) : fd_(fd), size_(fileSize), window_(windowBytes) {}

FileWindow::~FileWindow() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void FileWindow::EnableReadAhead() {
  if (thread_.joinable()) return;
  try {
    spare_.resize(window_);
    thread_ = std::thread([this] { ReadAheadLoop(); });
  } catch (...) {
    spare_.clear();  // no thread: plain reads
  }
}

void FileWindow::ReadAheadLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || reading_; });
    if (quit_) return;
    const uint64_t from = spareStart_;
    lock.unlock();
    size_t got = 0;
    int error = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(spare_.size(), size_ - std::min(size_, from)));
    while (got < want) {
      const ssize_t n = ::pread(fd_, spare_.data() + got, want - got, static_cast<off_t>(from + got));
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        error = errno;
        break;
      }
      got += static_cast<size_t>(n);
    }
    lock.lock();
    spareLength_ = got;
    spareError_ = error;
    reading_ = false;
    ready_ = true;
    changed_.notify_all();
  }
}

// The next window overlaps this one by a page, where a scan steps back to see a code that
// straddles the two.
void FileWindow::StartReadAhead() {
  if (!thread_.joinable() || start_ + length_ >= size_ || length_ < 8192) return;
  std::lock_guard lock(mutex_);
  spareStart_ = start_ + length_ - 4096;
  reading_ = true;
  ready_ = false;
  changed_.notify_all();
}

bool FileWindow::TakeReadAhead(uint64_t offset, size_t count) {
  if (!thread_.joinable()) return false;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !reading_; });
  if (!ready_) return false;
  ready_ = false;
  if (offset < spareStart_ || offset + count > spareStart_ + spareLength_) return false;
  if (spareError_) throw ReadError{spareError_};
  std::swap(buffer_, spare_);
  if (spare_.size() != window_) spare_.resize(window_);
  start_ = spareStart_;
  length_ = spareLength_;
  bytesRead_ += length_;
  lock.unlock();
  StartReadAhead();
  return true;
}

void FileWindow::Load(uint64_t offset, size_t count) {
  if (TakeReadAhead(offset, count)) return;
  // Aligned to the page, so that reads stay aligned for the page cache and block devices. A span
  // longer than the window (a whole frame) grows the buffer for once.
  start_ = offset & ~uint64_t{4095};
  length_ = 0;
  const size_t need = static_cast<size_t>(offset - start_) + count;
  buffer_.resize(std::max(window_, need));
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
  StartReadAhead();
}

const uint8_t* FileWindow::Get(uint64_t offset, size_t count) {
  if (count > kMaxSpan || offset > size_ || count > size_ - offset) return nullptr;
  if (offset < start_ || offset + count > start_ + length_) Load(offset, count);
  if (offset < start_ || offset + count > start_ + length_) return nullptr;  // the file shrank while it was read
  return buffer_.data() + (offset - start_);
}

const uint8_t* FileWindow::Span(uint64_t offset, size_t atLeast, size_t& available) {
  available = 0;
  if (offset >= size_) return nullptr;
  atLeast = std::min<uint64_t>({atLeast, kMaxSpan, size_ - offset});
  if (offset < start_ || offset + atLeast > start_ + length_) Load(offset, atLeast);
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
