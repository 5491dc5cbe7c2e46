// The byte sinks of real files, and where they stand: the plain sink creates or empties its file;
// the output sink of a conversion follows the rules of OpenOutputSink (AviFile.h) about what may
// already stand at the name, and takes the name only once kept. The writes themselves are
// FdSink's.
#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "avi/AviFile.h"
#include "avi/ByteSink.h"
#include "avi/FdSink.h"
#include "base/Refusal.h"
#include "recording/FileKind.h"

namespace zentrova::avi {
namespace {

// Syncs an open folder, so that a name just made or moved in it survives a power cut. A file
// system that cannot sync folders (EINVAL) has nothing to sync.
int SyncFolderFd(int fd) {
  int err = 0;
  while (::fsync(fd) != 0) {
    if (errno == EINTR) continue;
    if (errno != EINVAL) err = errno;
    break;
  }
  return err;
}

int SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = SyncFolderFd(fd);
  ::close(fd);
  return err;
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where an output's names are looked up: paths, each resolved anew (a single conversion), or
// entries of one open folder, which stays the same folder whatever is done to its path
// meanwhile, and whose entries are never followed when they are links (a batch).
class Names {
 public:
  // Paths; `dir` is the folder of the file the output stands for.
  explicit Names(std::string dir) : dir_(std::move(dir)) {}
  // Entries of `folder` (a copy of the descriptor is kept).
  explicit Names(int folder) : fd_(::fcntl(folder, F_DUPFD_CLOEXEC, 0)) {}
  ~Names() {
    if (fd_ >= 0) ::close(fd_);
  }
  Names(Names&& other) noexcept : fd_(std::exchange(other.fd_, -1)), dir_(std::move(other.dir_)) {}
  Names& operator=(Names&&) = delete;

  bool ok() const { return fd_ >= 0 || !dir_.empty(); }
  int at() const { return fd_ >= 0 ? fd_ : AT_FDCWD; }
  // The name, in this folder, of a file given by its path.
  std::string Of(const std::string& path) const { return fd_ >= 0 ? BaseName(path) : path; }
  // The name of an entry `leaf` of this folder.
  std::string Entry(const std::string& leaf) const {
    return fd_ >= 0 ? leaf : (dir_ == "/" ? "" : dir_) + "/" + leaf;
  }
  int Sync() const { return fd_ >= 0 ? SyncFolderFd(fd_) : SyncFolder(dir_); }

 private:
  int fd_ = -1;
  std::string dir_;
};

// A file written beside its output name under a temporary name, which takes the output name
// once kept and is removed when never kept. A new output so never stands at its name empty or
// without a frame (a conversion killed before its first frame leaves only the hidden temporary
// file), and an existing file that it is to replace survives a conversion that fails early.
// Both names are looked up in `names`.
class BesideSink final : public FdSink {
 public:
  // `replace`: the target exists and is replaced; otherwise the name must still be free.
  // The file is locked (flock) while it is written, under either name: another conversion then
  // sees it is in progress, neither replacing it nor taking it for a leftover.
  BesideSink(int fd, Names names, std::string temp, std::string target, bool replace)
      : FdSink(fd), names_(std::move(names)), temp_(std::move(temp)), target_(std::move(target)), replace_(replace) {
    ::flock(fd, LOCK_EX | LOCK_NB);
  }
  ~BesideSink() override {
    if (!kept_) ::unlinkat(names_.at(), temp_.c_str(), 0);
  }
  Expected<void> Keep() override {
    if (kept_) return {};
    kept_ = true;  // from here on what was written stays, at one name or the other
    const int err = replace_ ? (::renameat(names_.at(), temp_.c_str(), names_.at(), target_.c_str()) == 0 ? 0 : errno)
                             : MoveToFreeName();
    if (err != 0)
      return Failure(err == EEXIST ? target_ + " was created by someone else meanwhile; the conversion is in " + temp_
                                   : "cannot move " + temp_ + " to " + target_ + ": " + std::strerror(err));
    moved_ = true;
    // Synced before the move (a Matroska or MP4 file moves once complete): the new name too.
    if (synced_) {
      const int sync = names_.Sync();
      if (sync != 0) {
        (void)Failed(sync);
        return Failure("cannot put " + target_ + " on the disk: " + std::strerror(sync));
      }
    }
    return {};
  }
  // A name that is taken is an answer, not a failure: the caller tries the next.
  Expected<bool> KeepAt(const std::string& name) override {
    if (kept_) return Refusal("the file is already kept");
    const std::string target = std::exchange(target_, names_.Of(name));
    const int err = MoveToFreeName();
    if (err != 0) {
      target_ = target;
      if (err == EEXIST) return false;
      return Refusal(std::strerror(err));
    }
    kept_ = moved_ = true;
    const int sync = synced_ ? names_.Sync() : 0;
    if (sync != 0) return Refusal(std::strerror(sync));
    return true;
  }
  Expected<void> Sync() override {
    if (auto synced = SyncData(); !synced) return synced;
    synced_ = true;
    if (!moved_) return {};
    if (const int err = names_.Sync(); err != 0) return Failed(err);
    return {};
  }

 private:
  // Takes the target name only while it is free. A file system without RENAME_NOREPLACE gets a
  // hard link and the temporary name removed; one without hard links a plain rename after a
  // last look.
  int MoveToFreeName() {
    const int at = names_.at();
    if (::renameat2(at, temp_.c_str(), at, target_.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::linkat(at, temp_.c_str(), at, target_.c_str(), 0) == 0) {
      ::unlinkat(at, temp_.c_str(), 0);
      return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) return errno;
    struct stat st {};
    if (::fstatat(at, target_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    return ::renameat(at, temp_.c_str(), at, target_.c_str()) == 0 ? 0 : errno;
  }

  Names names_;
  std::string temp_, target_;
  bool replace_;
  bool kept_ = false, moved_ = false, synced_ = false;
};

// A file opened as it is: a plain file the caller emptied, or an existing device (a symbolic link
// to /dev/null, a disk), written in place and never renamed or removed.
class PlainSink final : public FdSink {
 public:
  using FdSink::FdSink;
  Expected<void> Keep() override { return {}; }
};

// A temporary file just created, open for writing.
struct Temporary {
  int fd;
  std::string name;  // in the folder of `names`
};

// Creates a temporary file in `names` that no one else has, named with the ending of `target`,
// with the mode of the file it is to replace (`exact`) or the usual one of a new file. The
// failure's reason is the system's ("Permission denied").
Expected<Temporary> CreateTemporary(const Names& names, const std::string& target, mode_t mode, bool exact) {
  const std::string base = BaseName(target);
  const size_t dot = base.find_last_of('.');
  std::string ending = dot == std::string::npos ? "" : base.substr(dot);
  if (ending.size() > 8) ending.clear();
  static std::atomic<unsigned> counter{0};
  const auto tick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, ".zentrova-%d-%llx-%u%s", static_cast<int>(::getpid()), tick % 0xFFFFFFFFull,
                  counter.fetch_add(1), ending.c_str());
    std::string name = names.Entry(leaf);
    const int fd =
        ::openat(names.at(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 07777);
    if (fd >= 0) {
      if (exact) ::fchmod(fd, mode & 07777);  // the umask may have taken bits the replaced file had
      return Temporary{fd, std::move(name)};
    }
    if (errno != EEXIST) return Failure(std::strerror(errno));
  }
  return Failure(std::strerror(EEXIST));
}

bool IsLocked(int at, const std::string& name, int follow) {
  const int fd = ::openat(at, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | follow);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

// The output inside an open folder: only a regular file or nothing may stand at the name, and a
// link there is refused rather than followed.
Expected<std::unique_ptr<OutputSink>> OpenInFolder(const std::string& path, const OutputOptions& options) {
  auto refuse = [](std::string why) { return Failure(std::move(why)); };
  Names names(options.folder);
  if (!names.ok()) return refuse("cannot create " + path + ": " + std::strerror(errno));
  const std::string name = names.Of(path);
  struct stat st {};
  bool replace = false;
  if (::fstatat(names.at(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return refuse(name + " is a symbolic link; outputs stay inside the output folder");
    if (options.hasInput && static_cast<uint64_t>(st.st_dev) == options.inputDevice &&
        static_cast<uint64_t>(st.st_ino) == options.inputInode)
      return refuse(name + " is the recording itself; choose another name for the output");
    if (!S_ISREG(st.st_mode)) return refuse(name + " is " + KindOfFile(st.st_mode) + ", not a file to replace");
    if (!options.overwrite) return refuse(name + " already exists; use -y to replace it");
    if (IsLocked(names.at(), name, O_NOFOLLOW))
      return refuse(name + " is being written by another conversion running now; try again when it has finished");
    replace = true;
  } else if (errno != ENOENT) {
    return refuse("cannot create " + path + ": " + std::strerror(errno));
  }
  Expected<Temporary> temp = CreateTemporary(names, name, replace ? st.st_mode : 0666, replace);
  if (!temp) return refuse("cannot create " + path + ": " + temp.reason());
  return std::make_unique<BesideSink>(temp->fd, std::move(names), std::move(temp->name), name, replace);
}

}  // namespace

bool IsBeingWritten(const std::string& path) { return IsLocked(AT_FDCWD, path, 0); }

Expected<std::unique_ptr<ByteSink>> OpenFileSink(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Failure(std::strerror(errno));
  return std::make_unique<PlainSink>(fd);
}

Expected<std::unique_ptr<OutputSink>> OpenOutputSink(const std::string& path, const OutputOptions& options) {
  auto refuse = [](std::string why) { return Failure(std::move(why)); };
  if (options.folder >= 0) return OpenInFolder(path, options);
  const std::string name = BaseName(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return refuse("cannot create " + path + ": " + std::strerror(errno));
    // Nothing there: a file of our own beside the name, which takes the name when kept and only
    // if no one else took it meanwhile.
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0)
      return refuse(S_ISLNK(link.st_mode) ? name + " is a symbolic link to a file that does not exist"
                                          : name + " already exists; use -y to replace it");
    Names names(DirName(path));
    Expected<Temporary> temp = CreateTemporary(names, path, 0666, false);
    if (!temp) return refuse("cannot create " + path + ": " + temp.reason());
    return std::make_unique<BesideSink>(temp->fd, std::move(names), std::move(temp->name), path, false);
  }
  if (options.hasInput && static_cast<uint64_t>(st.st_dev) == options.inputDevice &&
      static_cast<uint64_t>(st.st_ino) == options.inputInode)
    return refuse(name + " is the recording itself; choose another name for the output");
  if (S_ISREG(st.st_mode)) {
    if (!options.overwrite) return refuse(name + " already exists; use -y to replace it");
    if (IsBeingWritten(path))
      return refuse(name + " is being written by another conversion running now; try again when it has finished");
    // The temporary file goes beside the file the name leads to (through any symbolic links), so
    // that the rename replaces that file and not the link.
    char resolved[PATH_MAX];
    const std::string target = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    Names names(DirName(target));
    Expected<Temporary> temp = CreateTemporary(names, target, st.st_mode, true);
    if (!temp) return refuse("cannot create a file beside " + path + ": " + temp.reason());
    return std::make_unique<BesideSink>(temp->fd, std::move(names), std::move(temp->name), target, true);
  }
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISDIR(st.st_mode))
    return refuse(name + " is " + KindOfFile(st.st_mode) +
                  (S_ISDIR(st.st_mode) ? "" : "; an AVI file is completed by rewriting its start, so it needs a file "
                                             "or a device that can seek"));
  // A device: written in place. Opened without blocking (the open of a device that waits for
  // its medium returns at once), then written blocking; a device that cannot seek is refused.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return refuse("cannot open " + path + ": " + std::strerror(errno));
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || S_ISREG(opened.st_mode) || ::lseek(fd, 0, SEEK_CUR) < 0) {
    ::close(fd);
    return refuse(name + " is " + KindOfFile(st.st_mode) +
                  " that cannot seek; an AVI file is completed by rewriting its start");
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::make_unique<PlainSink>(fd);
}

}  // namespace zentrova::avi
