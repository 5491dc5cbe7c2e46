// The program's promises when what surrounds it misbehaves: a reader that goes away, a disk
// that does not take the data, texts that would drive the terminal, leftovers of a kill, two
// batches at once.
#include <sys/stat.h>

#include "CliTestSupport.h"
#include "cli/AviProbe.h"

namespace zentrova::testing {
namespace {

namespace fs = std::filesystem;

// The built program with standard output on a pipe whose reader has already gone, as after
// `| head -n1`; standard error is collected.
CliRun RunIntoClosedPipe(const std::vector<std::string>& args) {
  CliRun run;
  std::vector<std::string> all{ZentrovaProgram()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int o[2], e[2];
  if (::pipe(o) != 0 || ::pipe(e) != 0) return run;
  ::close(o[0]);
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGPIPE, SIG_DFL);  // as a shell leaves it
    ::dup2(o[1], 1);
    ::dup2(e[1], 2);
    ::close(e[0]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(o[1]);
  ::close(e[1]);
  char buf[4096];
  for (ssize_t got; (got = ::read(e[0], buf, sizeof buf)) > 0;) run.err.append(buf, static_cast<size_t>(got));
  ::close(e[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

TEST(CliClosedPipe, ConversionsFinishAndTheStatusSaysTheOutputFailed) {
  TempDir dir;
  fs::create_directories(dir.file("in"));
  MakeRecording(dir.file("in/a.zr"), 30);
  MakeRecording(dir.file("in/b.zr"), 30);
  MakeRecording(dir.file("in/c.zr"), 30);

  const CliRun one = RunIntoClosedPipe({"convert", "--codec", "raw", dir.file("in/a.zr"), dir.file("one.avi")});
  EXPECT_EQ(one.status, 1) << one.err;
  EXPECT_TRUE(Contains(one.err, "cannot write to standard output: Broken pipe")) << one.err;
  const cli::AviProbe single = cli::ProbeAvi(dir.file("one.avi"));
  EXPECT_TRUE(single.finished);
  EXPECT_EQ(single.frames, 30u);

  for (const char* form : {"--json", "-v"}) {
    SCOPED_TRACE(form);
    const std::string out = dir.file(std::string("out") + form);
    const CliRun batch = RunIntoClosedPipe({"convert", dir.file("in"), "-o", out, "-j", "1", "--codec", "raw", form});
    EXPECT_EQ(batch.status, 1) << batch.err;
    EXPECT_TRUE(Contains(batch.err, "Broken pipe")) << batch.err;
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) {
      const cli::AviProbe probe = cli::ProbeAvi(out + "/" + name);
      EXPECT_TRUE(probe.finished) << name;
      EXPECT_EQ(probe.frames, 30u) << name;
    }
  }

  const CliRun info = RunIntoClosedPipe({"info", dir.file("in/a.zr")});
  EXPECT_EQ(info.status, 1) << info.err;
  EXPECT_TRUE(Contains(info.err, "cannot write to standard output")) << info.err;
}

}  // namespace
}  // namespace zentrova::testing
