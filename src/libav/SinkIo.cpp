#include "libav/SinkIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace zentrova::libav {
namespace {

constexpr int kIoBytes = 1 << 16;

}  // namespace

SinkIo::~SinkIo() {
  if (!pb_) return;
  av_freep(&pb_->buffer);
  avio_context_free(&pb_);
}

AVIOContext* SinkIo::Open() {
  // The copy of the head never grows past this, so the muxer's callbacks never allocate.
  try {
    head_.reserve(kHeadBytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBytes));
  if (!buffer) return nullptr;
  pb_ = avio_alloc_context(buffer, kIoBytes, 1, this, nullptr, &SinkIo::Write, &SinkIo::Seek);
  if (!pb_) av_free(buffer);
  return pb_;
}

bool SinkIo::Patch(uint64_t offset, const void* data, size_t size) {
  if (failed_) return false;
  if (!sink_->WriteAt(offset, {{data, size}})) {
    Fail();
    return false;
  }
  Remember(offset, static_cast<const uint8_t*>(data), size);
  return true;
}

void SinkIo::CutTo(uint64_t size) {
  if (size < end_ && sink_->Truncate(size)) end_ = size;
}

int SinkIo::Write(void* opaque, uint8_t* buf, int size) {
  auto* io = static_cast<SinkIo*>(opaque);
  if (size <= 0) return 0;
  // After a failure nothing more reaches the file: what follows would not be whole.
  if (io->failed_ || !io->sink_->WriteAt(io->position_, {{buf, static_cast<size_t>(size)}})) {
    io->Fail();
    return AVERROR(io->error_);
  }
  // Called from the muxer's C code, which an exception must not cross: out of memory for the
  // copy of the head fails the writing like a failed write.
  try {
    io->Remember(io->position_, buf, static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    if (!io->failed_) io->error_ = ENOMEM;
    io->failed_ = true;
    return AVERROR(ENOMEM);
  }
  io->position_ += static_cast<uint64_t>(size);
  io->end_ = std::max(io->end_, io->position_);
  return size;
}

int64_t SinkIo::Seek(void* opaque, int64_t offset, int whence) {
  auto* io = static_cast<SinkIo*>(opaque);
  int64_t to = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return static_cast<int64_t>(io->end_);
    case SEEK_SET: to = offset; break;
    case SEEK_CUR: to = static_cast<int64_t>(io->position_) + offset; break;
    case SEEK_END: to = static_cast<int64_t>(io->end_) + offset; break;
    default: return AVERROR(EINVAL);
  }
  if (to < 0) return AVERROR(EINVAL);
  io->position_ = static_cast<uint64_t>(to);
  return to;
}

void SinkIo::Remember(uint64_t at, const uint8_t* data, size_t size) {
  if (at >= kHeadBytes) return;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, kHeadBytes - at));
  if (head_.size() < at + n) head_.resize(static_cast<size_t>(at + n));
  std::memcpy(head_.data() + at, data, n);
}

void SinkIo::Fail() {
  if (!failed_) error_ = (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO) ? errno : EIO;
  failed_ = true;
}

}  // namespace zentrova::libav
