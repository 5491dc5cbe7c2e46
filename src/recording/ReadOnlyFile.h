#pragma once
// Opening a recording: read only, never locked, and without moving its access time where the
// system lets us (O_NOATIME needs the file's owner or CAP_FOWNER; anyone else gets EPERM and
// opens it plainly). A recording may be evidence: reading it must leave no trace on it.
#include <fcntl.h>

#include <cerrno>
#include <string>

namespace zentrova {

inline int OpenReadOnly(const std::string& path, int flags = 0) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME | flags);
  if (fd >= 0 || errno != EPERM) return fd;
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
}

}  // namespace zentrova
