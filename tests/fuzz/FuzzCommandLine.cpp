// Fuzz target: the command line. The input is a list of arguments separated by NUL bytes, up to
// a double NUL; the bytes after it are a recording. Every argument list goes through the parser;
// `info` runs on the recording (each of its names is replaced by the recording's), `codecs` runs
// as it is, `convert` is only parsed (it would write files). What is printed must be valid UTF-8
// and, with --json, one object per line.
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "cli/Json.h"
#include "cli/Run.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t end = bytes.find(std::string("\0\0", 2));
  const std::string argText = bytes.substr(0, end);
  const std::string recording = end == std::string::npos ? std::string() : bytes.substr(end + 2);

  std::vector<std::string> args = {"zentrova"};
  for (size_t pos = 0; pos <= argText.size() && args.size() < 64;) {
    const size_t next = argText.find('\0', pos);
    args.push_back(argText.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  for (const std::string& a : args) {
    Check(zentrova::cli::IsValidUtf8(zentrova::cli::JsonString(a)));
    Check(zentrova::cli::Printable(a).find('\n') == std::string::npos);
  }

  zentrova::cli::Invocation how;
  std::ostringstream out, err;
  const std::optional<int> parsed = zentrova::cli::Parse(args, how, out, err);
  if (parsed) {
    Check(*parsed == 0 || *parsed == 2);
    return 0;
  }
  if (how.command == zentrova::cli::Invocation::Command::Convert) return 0;
  // The recording lives in memory under a /proc/self/fd name: nothing is left on disk.
  std::optional<zentrova::fuzz::MemoryFile> file;
  if (how.command == zentrova::cli::Invocation::Command::Info) {
    file.emplace(reinterpret_cast<const uint8_t*>(recording.data()), recording.size());
    if (!file->ok()) return 0;
    if (how.infoInputs.size() > 4) how.infoInputs.resize(4);
    for (std::string& input : how.infoInputs) input = file->path();
  }
  const int status = zentrova::cli::Execute(how, out, err);
  Check(status == 0 || status == 1);
  const std::string printed = out.str();
  if (how.output.json) {
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
      Check(!line.empty() && line.front() == '{' && line.back() == '}');
      Check(zentrova::cli::IsValidUtf8(line));
    }
  }
  return 0;
}
