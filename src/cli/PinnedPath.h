#pragma once
// A file reached through its folder held open: the folder is opened one component at a time
// (openat), so the path may be longer than the system takes in one call (PATH_MAX), and the file
// is then named through the open folder ("/proc/self/fd/N/NAME"), which leads to that folder and
// no other, whatever is done to the folder's path meanwhile.
#include <string>

#include "base/Expected.h"

namespace zentrova::cli {

class PinnedPath {
 public:
  PinnedPath() = default;
  ~PinnedPath();
  PinnedPath(PinnedPath&& other) noexcept;
  PinnedPath& operator=(PinnedPath&& other) noexcept;
  PinnedPath(const PinnedPath&) = delete;
  PinnedPath& operator=(const PinnedPath&) = delete;

  // The folder of `path`, links followed as the system follows them, or why it cannot be opened.
  static Expected<PinnedPath> Find(const std::string& path);
  // The folder of `output` below the open folder `outDir` (whose path is `outDirPath`, the start
  // of `output`), each folder on the way created when missing and opened without following a
  // link: a folder swapped for a link is refused, so nothing is written outside `outDir`.
  static Expected<PinnedPath> MakeBelow(int outDir, const std::string& outDirPath, const std::string& output);

  // Whether a folder is held (a default one holds none).
  bool ok() const { return folder_ >= 0; }
  int folder() const { return folder_; }
  // The file's short name through the open folder.
  const std::string& path() const { return path_; }
  // `text` with the short name's folder written as the folder's own path, for messages.
  std::string Shown(const std::string& text) const;

 private:
  int folder_ = -1;
  std::string path_;     // /proc/self/fd/N/NAME
  std::string prefix_;   // /proc/self/fd/N
  std::string display_;  // the folder's own path
};

}  // namespace zentrova::cli
