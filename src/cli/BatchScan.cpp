#include "cli/BatchScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "cli/Json.h"
#include "cli/PinnedPath.h"

namespace zentrova::cli {
namespace {

using FileId = std::pair<dev_t, ino_t>;

constexpr int kMaxDepth = 64;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Stem(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string BaseName(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string StatReason(int error) {
  if (error == ELOOP) return "a symbolic-link loop";
  if (error == ENOENT) return "no such file";
  return std::strerror(error);
}

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

class Scanner {
 public:
  Scanner(const std::string& outDir, const std::string& extension, const std::atomic<bool>* cancel)
      : outDir_(outDir), extension_(extension), cancel_(cancel) {
    struct stat st {};
    if (::stat(outDir.c_str(), &st) == 0) outId_ = {st.st_dev, st.st_ino};
  }

  void Input(const std::string& path) {
    if (Cancelled()) return;
    // A path longer than the system takes in one call is reached through its open folder.
    PinnedPath pinned;
    if (path.size() >= PATH_MAX) pinned = PinnedPath::Find(path).valueOr(PinnedPath());
    const std::string reachable = pinned.ok() ? pinned.path() : path;
    struct stat st {};
    if (::stat(reachable.c_str(), &st) != 0) {
      Broken(path, StatReason(errno));
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      std::vector<FileId> ancestors;
      Folder(AT_FDCWD, reachable, path, "", st, ancestors, 0);
    } else if (S_ISREG(st.st_mode)) {
      Recording(path, "", BaseName(path));
    } else {
      Broken(path, std::string(KindOf(st.st_mode)) + ", not a recording");
    }
  }

  BatchScan Take() {
    scan_.cancelled = Cancelled();
    return std::move(scan_);
  }

 private:
  void Broken(const std::string& path, const std::string& why) { scan_.items.push_back({path, "", why}); }

  void Recording(const std::string& path, const std::string& rel, const std::string& name) {
    BatchItem item{path, Join(Join(outDir_, rel), Stem(name) + extension_), ""};
    const auto [it, fresh] = outputs_.emplace(item.output, path);
    if (!fresh) item.failure = "its output name is taken by " + Printable(it->second);
    scan_.items.push_back(std::move(item));
  }

  // The folder `entryName` inside the open folder `at` (whose path is `path`, however long: the walk
  // goes from folder to folder through their descriptors).
  void Folder(int at, const std::string& entryName, const std::string& path, const std::string& rel, const struct stat& st,
              std::vector<FileId>& ancestors, int depth) {
    const FileId id{st.st_dev, st.st_ino};
    if (id == outId_) {
      scan_.notes.push_back(Printable(path) + ": the output folder, not searched");
      return;
    }
    if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) {
      Broken(path, "a symbolic-link loop: it leads back to a folder being searched");
      return;
    }
    if (!visited_.insert(id).second) {
      scan_.notes.push_back(Printable(path) + ": already searched under another name");
      return;
    }
    if (depth > kMaxDepth) {
      Broken(path, "folders nested more than " + std::to_string(kMaxDepth) + " deep");
      return;
    }
    const int fd = ::openat(at, entryName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
      const int error = errno;
      if (fd >= 0) ::close(fd);
      Broken(path, std::string("cannot read the folder: ") + std::strerror(error));
      return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
      if (Cancelled()) break;
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    std::sort(names.begin(), names.end());

    ancestors.push_back(id);
    for (const std::string& name : names) {
      if (Cancelled()) break;
      const std::string full = Join(path, name);
      struct stat entry {};
      if (::fstatat(fd, name.c_str(), &entry, 0) != 0) {
        const int error = errno;
        if (IsRecordingName(name) || error == ELOOP) Broken(full, StatReason(error));
        continue;
      }
      if (S_ISDIR(entry.st_mode)) {
        Folder(fd, name, full, Join(rel, name), entry, ancestors, depth + 1);
      } else if (IsRecordingName(name)) {
        if (S_ISREG(entry.st_mode)) Recording(full, rel, name);
        else Broken(full, std::string(KindOf(entry.st_mode)) + ", not a recording");
      }
    }
    ancestors.pop_back();
    ::closedir(dir);
  }

  bool Cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

  std::string outDir_;
  std::string extension_;
  const std::atomic<bool>* cancel_;
  FileId outId_{0, 0};
  std::set<FileId> visited_;
  std::map<std::string, std::string> outputs_;
  BatchScan scan_;
};

}  // namespace

bool IsRecordingName(const std::string& name) {
  const std::string lower = Lower(name);
  auto ends = [&](const char* tail) {
    const size_t n = std::strlen(tail);
    return lower.size() > n && lower.compare(lower.size() - n, n, tail) == 0;
  };
  return ends(".zr") || ends(".zrx");
}

BatchScan ScanInputs(const std::vector<std::string>& inputs, const std::string& outDir, const std::string& extension,
                     const std::atomic<bool>* cancel) {
  Scanner scanner(outDir, extension, cancel);
  for (const std::string& input : inputs) scanner.Input(input);
  return scanner.Take();
}

}  // namespace zentrova::cli
