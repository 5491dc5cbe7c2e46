#pragma once
// Where the AVI writer puts its bytes: a file on disk, or a stand-in that tests use to make
// writes fail the way a full disk does.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "base/Expected.h"

namespace zentrova::avi {

// One contiguous piece of a gathered write.
struct Piece {
  const void* data;
  size_t size;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes the pieces one after another starting at `offset`. Fails, with the system's reason,
  // unless every byte was written; a failed write may leave part of the bytes behind (the caller
  // cuts them off). A failure is built without throwing (base/Refusal.h): writers call this
  // where memory may be short, and from C code that an exception must not cross.
  virtual Expected<void> WriteAt(uint64_t offset, std::initializer_list<Piece> pieces) = 0;
  // Cuts the file to `size` bytes.
  virtual Expected<void> Truncate(uint64_t size) = 0;
};

// Creates or empties `path`; the error is the system's reason ("Permission denied").
Expected<std::unique_ptr<ByteSink>> OpenFileSink(const std::string& path);

}  // namespace zentrova::avi
