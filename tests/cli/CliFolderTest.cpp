// A batch's outputs stay inside its output folder whatever is swapped into it while it runs, and
// paths longer than the system takes in one call are converted like any other.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "avi/AviReader.h"
#include "cli/PinnedPath.h"
#include "container/ContainerFile.h"
#include "convert/ConversionJob.h"

namespace zentrova::testing {
namespace {

namespace fs = std::filesystem;

// A descriptor closed at the end of the scope.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Removes `name` inside the open folder `at` and everything below it, folder by folder, so that
// depth and path length do not matter.
void RemoveTree(int at, const std::string& name) {
  const int fd = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    ::unlinkat(at, name.c_str(), 0);
    return;
  }
  DIR* dir = ::fdopendir(fd);
  std::vector<std::string> names;
  while (const dirent* e = dir ? ::readdir(dir) : nullptr)
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
  for (const std::string& n : names) RemoveTree(fd, n);
  if (dir) ::closedir(dir);
  ::unlinkat(at, name.c_str(), AT_REMOVEDIR);
}

// `levels` folders of 200-character names below `root`, made one inside the other with mkdirat;
// returns the deepest, open.
int MakeDeepFolders(const std::string& root, int levels, std::string* path) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  *path = root;
  for (int i = 0; i < levels && fd >= 0; ++i) {
    const std::string name = std::string(199, static_cast<char>('a' + i % 26)) + std::to_string(i % 10);
    ::mkdirat(fd, name.c_str(), 0777);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    *path += "/" + name;
  }
  return fd;
}

// A sub-folder of the output folder swapped for a link to a folder elsewhere while a batch runs:
// the output in progress stays in the folder it was opened in, the later ones are refused with the
// reason, and nothing is ever written in the folder the link leads to.
TEST(CliOutputFolder, ASubFolderSwappedForALinkDuringABatchLeadsNoWriteOutside) {
  TempDir dir;
  fs::create_directories(dir.file("in/sub"));
  for (const char* name : {"a.zr", "b.zr", "c.zr", "d.zr", "e.zr", "f.zr"})
    MakeRecording(dir.file("in/sub/") + name, 40, 130);
  fs::create_directories(dir.file("elsewhere"));
  bool swapped = false;
  const CliRun run = RunProgram(
      {"convert", dir.file("in"), "-o", dir.file("out"), "--codec", "raw", "-j", "1"}, false,
      [&](const std::string& out, pid_t) {
        // The first row: the batch is in the sub-folder; it moves aside and a link takes its name.
        if (swapped || !Contains(out, "converted")) return;
        swapped = true;
        fs::rename(dir.file("out/sub"), dir.file("out/moved"));
        fs::create_directory_symlink(dir.file("elsewhere"), dir.file("out/sub"));
      });
  ASSERT_TRUE(swapped) << run.out << run.err;
  EXPECT_TRUE(fs::is_empty(dir.file("elsewhere")));
  EXPECT_TRUE(fs::exists(dir.file("out/moved/a.avi")));
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(Contains(run.err, "symbolic link; outputs stay inside the output folder")) << run.err;
  EXPECT_TRUE(Contains(run.err, "f.zr")) << run.err;

  // A link planted at an output's name in a folder opened for the batch is refused, not followed,
  // also when the output is to be replaced.
  WriteAll(dir.file("elsewhere/x.avi"), "not ours\n");
  fs::create_directories(dir.file("out2"));
  const Fd outDir{::open(dir.file("out2").c_str(), O_RDONLY | O_DIRECTORY)};
  const Expected<cli::PinnedPath> pinned = cli::PinnedPath::MakeBelow(outDir.fd, dir.file("out2"), dir.file("out2/x.avi"));
  ASSERT_TRUE(pinned.ok()) << (pinned.ok() ? "" : pinned.reason());
  fs::create_symlink(dir.file("elsewhere/x.avi"), dir.file("out2/x.avi"));
  JobOptions options;
  options.overwrite = true;
  options.outputFolder = pinned->folder();
  std::vector<std::string> lines;
  ConversionJob job([&](const std::string& l) { lines.push_back(l); }, {}, options,
                    [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(job.Convert(dir.file("in/sub/a.zr"), pinned->path(), [] { return std::optional(avi::CompressOptions{"raw", 0}); }),
            ConversionJob::Setup::Failed);
  EXPECT_EQ(ReadAll(dir.file("elsewhere/x.avi")), "not ours\n");
  EXPECT_TRUE(fs::is_symlink(dir.file("out2/x.avi")));
}

// A recording below a path of more than 4096 bytes, in a tree the batch searches: converted into
// an output below a path as long, with its row.
TEST(CliLongPaths, ARecordingBelowAPathLongerThanTheSystemTakesIsConverted) {
  TempDir dir;
  fs::create_directories(dir.file("in"));
  std::string deep;
  {
    const Fd folder{MakeDeepFolders(dir.file("in"), 22, &deep)};
    ASSERT_GE(folder.fd, 0);
    ASSERT_GT(deep.size(), 4096u);
    MakeRecording(dir.file("short.zr"), 5);
    ASSERT_EQ(::renameat(AT_FDCWD, dir.file("short.zr").c_str(), folder.fd, "cam.zr"), 0);
  }
  const CliRun run =
      RunCli({"convert", dir.file("in"), "-o", dir.file("out"), "--codec", "raw", "--json", "--report", "-v"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "\"status\": \"ok\"")) << run.out;
  EXPECT_TRUE(Contains(run.out, "cam.avi")) << run.out;
  // The rows, the lines and the report name the files by their own paths, however reached.
  EXPECT_FALSE(Contains(run.out + run.err, "/proc/self/fd")) << run.out << run.err;

  // The output, reached through its folder.
  std::string outDeep;
  {
    const Fd out{MakeDeepFolders(dir.file("out"), 22, &outDeep)};
    ASSERT_GE(out.fd, 0);
    const avi::AviProbe probe = avi::ProbeAvi("/proc/self/fd/" + std::to_string(out.fd) + "/cam.avi");
    EXPECT_TRUE(probe.finished);
    EXPECT_EQ(probe.frames, 5u);
    EXPECT_FALSE(Contains(ReadAll("/proc/self/fd/" + std::to_string(out.fd) + "/cam.report.json"), "/proc/self/fd"));
    EXPECT_TRUE(Contains(ReadAll("/proc/self/fd/" + std::to_string(out.fd) + "/cam.report.json"), deep.substr(0, 300)));
  }

  // A recording named by such a path on the command line too.
  const CliRun named = RunCli({"convert", deep + "/cam.zr", "-o", dir.file("out2"), "--codec", "raw", "--json"});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_TRUE(Contains(named.out, "\"status\": \"ok\"")) << named.out;

  const Fd root{::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY)};
  for (const char* top : {"in", "out", "out2"}) RemoveTree(root.fd, top);
}

}  // namespace
}  // namespace zentrova::testing
