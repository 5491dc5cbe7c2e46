#pragma once
// Helpers of the command-line tests: recordings made by zrgen's generator, the command line run
// in this process or as the built program (through pipes or a pseudo-terminal).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "cli/Run.h"
#include "zrgen/RecordingGenerator.h"

namespace zentrova::testing {

// A recording of moving pattern and tone; code 0 is 160 x 112, 130 is 352 x 288.
inline void MakeRecording(const std::string& path, int frames, uint8_t code = 0, int framesPerBlock = 25) {
  zrgen::GeneratorOptions o;
  o.output = path;
  o.resolutionCode = code;
  o.frames = frames;
  o.framesPerBlock = framesPerBlock;
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  ASSERT_TRUE(zrgen::GenerateRecording(o, report)) << report.error;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct CliRun {
  int status = -1;
  std::string out, err;
};

// The command line in this process.
inline CliRun RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), "zentrova");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::ostringstream out, err;
  CliRun run;
  run.status = cli::Run(static_cast<int>(args.size()), argv.data(), out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

inline std::string ZentrovaProgram() { return std::string(ZENTROVA_BINARY_DIR) + "/src/cli/zentrova"; }

// The built program as a child. Through pipes, or with standard output and error on a
// pseudo-terminal (`terminal`). `onOutput` sees the output collected so far each time more
// arrives, with the child's pid, and may signal it.
// `wrapper` is a command that runs the program (setpriv with its options, say); `program` the
// program itself, when not the built one.
inline CliRun RunProgram(const std::vector<std::string>& args, bool terminal = false,
                         const std::function<void(const std::string& out, pid_t child)>& onOutput = {},
                         const std::vector<std::string>& wrapper = {}, const std::string& program = ZentrovaProgram()) {
  CliRun run;
  std::vector<std::string> all = wrapper;
  all.push_back(program);
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  int outFd = -1, errFd = -1;
  pid_t child = -1;
  if (terminal) {
    int master = -1;
    child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    outFd = master;
  } else {
    int o[2], e[2];
    if (::pipe(o) != 0 || ::pipe(e) != 0) return run;
    child = ::fork();
    if (child == 0) {
      ::dup2(o[1], 1);
      ::dup2(e[1], 2);
      ::close(o[0]);
      ::close(e[0]);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(o[1]);
    ::close(e[1]);
    outFd = o[0];
    errFd = e[0];
  }
  std::string* targets[2] = {&run.out, &run.err};
  int fds[2] = {outFd, errFd};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < deadline && (fds[0] >= 0 || fds[1] >= 0)) {
    pollfd p[2];
    int n = 0;
    int which[2];
    for (int i = 0; i < 2; ++i)
      if (fds[i] >= 0) {
        p[n] = {fds[i], POLLIN, 0};
        which[n++] = i;
      }
    if (::poll(p, n, 200) < 0) break;
    for (int k = 0; k < n; ++k) {
      if (!(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t got = ::read(fds[which[k]], buf, sizeof buf);
      if (got <= 0) {  // a pseudo-terminal reports EIO once the child has gone
        ::close(fds[which[k]]);
        fds[which[k]] = -1;
        continue;
      }
      targets[which[k]]->append(buf, static_cast<size_t>(got));
      if (which[k] == 0 && onOutput) onOutput(run.out, child);
    }
  }
  if (fds[0] >= 0 || fds[1] >= 0) ::kill(child, SIGKILL);  // hung: the test fails on its status
  for (int fd : fds)
    if (fd >= 0) ::close(fd);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace zentrova::testing
