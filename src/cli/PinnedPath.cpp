#include "cli/PinnedPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "cli/Json.h"

namespace zentrova::cli {
namespace {

std::vector<std::string> Components(const std::string& path, size_t from, size_t to) {
  std::vector<std::string> parts;
  size_t at = from;
  while (at < to) {
    size_t end = path.find('/', at);
    if (end == std::string::npos || end > to) end = to;
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// Opens `name` inside `at` as a folder; -1 with errno set when it cannot.
int OpenFolder(int at, const std::string& name, bool follow) {
  return ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

}  // namespace

PinnedPath::~PinnedPath() {
  if (folder_ >= 0) ::close(folder_);
}

PinnedPath::PinnedPath(PinnedPath&& other) noexcept
    : folder_(std::exchange(other.folder_, -1)),
      path_(std::move(other.path_)),
      prefix_(std::move(other.prefix_)),
      display_(std::move(other.display_)) {}

PinnedPath& PinnedPath::operator=(PinnedPath&& other) noexcept {
  if (this != &other) {
    if (folder_ >= 0) ::close(folder_);
    folder_ = std::exchange(other.folder_, -1);
    path_ = std::move(other.path_);
    prefix_ = std::move(other.prefix_);
    display_ = std::move(other.display_);
  }
  return *this;
}

Expected<PinnedPath> PinnedPath::Find(const std::string& path) {
  PinnedPath pinned;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(path.empty() || path[0] != '/' ? "." : "/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (const std::string& part : Components(path, 0, slash == std::string::npos ? 0 : slash)) {
    if (fd < 0) break;
    const int next = OpenFolder(fd, part, true);
    const int err = errno;
    ::close(fd);
    fd = next;
    errno = err;
  }
  if (fd < 0) {
    return Failure("cannot open the folder " + Printable(folder) + ": " + std::strerror(errno));
  }
  pinned.folder_ = fd;
  pinned.prefix_ = "/proc/self/fd/" + std::to_string(fd);
  pinned.path_ = pinned.prefix_ + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
  pinned.display_ = folder;
  return pinned;
}

Expected<PinnedPath> PinnedPath::MakeBelow(int outDir, const std::string& outDirPath, const std::string& output) {
  PinnedPath pinned;
  const size_t slash = output.rfind('/');
  if (outDir < 0 || slash == std::string::npos || slash + 1 < outDirPath.size() ||
      output.compare(0, outDirPath.size(), outDirPath) != 0) {
    return Failure(Printable(output) + " is not inside the output folder");
  }
  int fd = ::fcntl(outDir, F_DUPFD_CLOEXEC, 0);
  std::string walked = outDirPath;
  for (const std::string& part : Components(output, outDirPath.size(), slash)) {
    if (fd < 0) break;
    walked += (walked.empty() || walked.back() == '/' ? "" : "/") + part;
    if (part == "." || part == "..") {
      ::close(fd);
      return Failure(Printable(walked) + " leaves the output folder");
    }
    if (::mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
      const int err = errno;
      ::close(fd);
      return Failure("cannot create the folder " + Printable(walked) + ": " + std::strerror(err));
    }
    const int next = OpenFolder(fd, part, false);
    if (next < 0) {
      const int err = errno;
      struct stat st {};
      const bool link = ::fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      ::close(fd);
      return Failure(link ? Printable(walked) + " is a symbolic link; outputs stay inside the output folder"
                     : err == ENOTDIR ? Printable(walked) + " exists and is not a folder"
                                      : "cannot open the folder " + Printable(walked) + ": " + std::strerror(err));
    }
    ::close(fd);
    fd = next;
  }
  if (fd < 0) {
    return Failure("cannot open the output folder " + Printable(outDirPath) + ": " + std::strerror(errno));
  }
  pinned.folder_ = fd;
  pinned.prefix_ = "/proc/self/fd/" + std::to_string(fd);
  pinned.path_ = pinned.prefix_ + "/" + output.substr(slash + 1);
  pinned.display_ = output.substr(0, slash);
  return pinned;
}

std::string PinnedPath::Shown(const std::string& text) const {
  if (prefix_.empty()) return text;
  std::string shown = text;
  size_t at = 0;
  while ((at = shown.find(prefix_, at)) != std::string::npos) {
    // Only the whole descriptor number: /proc/self/fd/1 is not the start of /proc/self/fd/12.
    const size_t after = at + prefix_.size();
    if (after < shown.size() && shown[after] != '/') {
      at = after;
      continue;
    }
    shown.replace(at, prefix_.size(), display_);
    at += display_.size();
  }
  return shown;
}

}  // namespace zentrova::cli
