#pragma once
// Positioned, gathered writes on a file descriptor, for the sinks of real files (FileSink.cpp):
// every byte goes out or the system's reason comes back, a signal never ends a write, and the
// first failure stays the file's error.
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "avi/AviFile.h"
#include "avi/ByteSink.h"
#include "base/Expected.h"

namespace zentrova::avi {

class FdSink : public OutputSink {
 public:
  // Takes `fd`, which it closes.
  explicit FdSink(int fd);
  ~FdSink() override;
  FdSink(const FdSink&) = delete;
  FdSink& operator=(const FdSink&) = delete;

  Expected<void> WriteAt(uint64_t offset, std::initializer_list<Piece> pieces) override;
  Expected<void> Truncate(uint64_t size) override;
  int error() const override { return error_; }
  // Only a file's data is synced: a device written in place (a link to /dev/null) has none.
  Expected<void> Sync() override { return SyncData(); }

 protected:
  Expected<void> SyncData();
  // The first failure is the file's error(); each failure says its own reason.
  Expected<void> Failed(int err);

  int fd_;

 private:
  Expected<void> WriteAll(uint64_t offset, iovec* vec, size_t count);

  int error_ = 0;
  bool regular_ = false;
};

}  // namespace zentrova::avi
