#pragma once
// libavformat's output on one of our byte sinks: positioned writes at a cursor the muxer may move
// back (to fill in sizes and indexes), with the first failed write remembered, and a copy of the
// file's first bytes kept so that a field of the header can be found and filled in later.
#include <cstdint>
#include <vector>

#include "avi/ByteSink.h"

extern "C" {
#include <libavformat/avio.h>
}

namespace zentrova::libav {

class SinkIo {
 public:
  static constexpr size_t kHeadBytes = 1 << 16;

  explicit SinkIo(avi::ByteSink* sink) : sink_(sink) {}
  ~SinkIo();
  SinkIo(const SinkIo&) = delete;
  SinkIo& operator=(const SinkIo&) = delete;

  // The context to hand to the muxer; null when it cannot be made.
  AVIOContext* Open();
  AVIOContext* context() const { return pb_; }

  bool failed() const { return failed_; }
  int error() const { return error_; }
  uint64_t end() const { return end_; }
  // The file's first bytes as written (up to kHeadBytes).
  const std::vector<uint8_t>& head() const { return head_; }

  // Writes `size` bytes at `offset` past the muxer (a field filled in once the file completes).
  bool Patch(uint64_t offset, const void* data, size_t size);
  // Cuts the file back to `size` bytes after a failure, so that it ends where its last whole
  // piece ends.
  void CutTo(uint64_t size);

 private:
  static int Write(void* opaque, uint8_t* buf, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);
  void Remember(uint64_t at, const uint8_t* data, size_t size);
  void Fail();

  avi::ByteSink* sink_;
  AVIOContext* pb_ = nullptr;
  uint64_t position_ = 0;
  uint64_t end_ = 0;
  bool failed_ = false;
  int error_ = 0;
  std::vector<uint8_t> head_;
};

}  // namespace zentrova::libav
