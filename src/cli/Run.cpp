#include "cli/Run.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Signals.h"

namespace zentrova::cli {
namespace {

constexpr const char* kUsage =
    "Usage: zentrova convert INPUT OUTPUT.avi [options]\n"
    "       zentrova convert INPUT... -o OUTDIR [-j N] [--json] [options]\n"
    "       zentrova info INPUT... [--json] [--frames] [--clock-offset SECONDS]\n"
    "       zentrova recover INPUT... -o OUTDIR|--list [--json]\n"
    "       zentrova frames INPUT --at TIME [--at TIME...] | --every INTERVAL -o OUTDIR\n"
    "       zentrova codecs [--json]\n";

// Hands everything on to standard output's own buffer and remembers why the first write failed
// (a closed pipe, a full disk). After a failure it takes nothing more: the printing ends there,
// while the work goes on and the exit status says that standard output failed.
class NotingBuffer final : public std::streambuf {
 public:
  explicit NotingBuffer(std::streambuf* to) : to_(to) {}
  bool failed() const { return failed_; }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (failed_) return 0;
    errno = 0;
    const std::streamsize done = to_->sputn(s, n);
    if (done != n) Note();
    return done;
  }
  int sync() override {
    if (failed_) return -1;
    errno = 0;
    if (to_->pubsync() == 0) return 0;
    Note();
    return -1;
  }

 private:
  void Note() {
    failed_ = true;
    error_ = errno;
  }
  std::streambuf* to_;
  bool failed_ = false;
  int error_ = 0;
};

int UsageError(std::ostream& err, const std::string& message) {
  err << "zentrova: " << message << "\n"
      << kUsage << "Run 'zentrova --help' or 'zentrova COMMAND --help' for more.\n";
  return kExitUsage;
}

}  // namespace

int Parse(const std::vector<std::string>& args, Invocation& how, std::ostream& out, std::ostream& err) {
  how = Invocation{};
  CLI::App app{"Zentrova converts ZR recordings of a digital video recorder into AVI files.", "zentrova"};
  app.set_version_flag("--version", [] { return VersionText(); });
  app.require_subcommand(1);
  app.footer("Exit status: 0 every recording converted, 1 failed (recover: no recording found), 2 usage\n"
             "error, 3 a write failed (partial output), 4 a recording ended before its declared frames or\n"
             "frames were damaged or missing, 130 cancelled. A batch exits with the worst status among its\n"
             "recordings.\n");

  auto* convert = app.add_subcommand("convert", "Convert recordings into AVI files");
  AddConvertOptions(*convert, how.convert);
  AddReportingOptions(*convert, how.output);

  auto* info = app.add_subcommand("info", "Show what recordings hold");
  info->add_option("INPUT", how.infoInputs, "ZR recordings")->required();
  info->add_flag("--json", how.output.json, "One JSON object per recording");
  info->add_flag("--frames", how.convert.time.frames,
                 "Also a line (with --json an object) per frame: index, clock time, picture type, sizes");
  info->add_option("--clock-offset", how.convert.time.clockOffsetSeconds,
                   "SECONDS added to every time of the recording (a recorder whose clock was wrong)");

  auto* recover = app.add_subcommand(
      "recover", "Find the recordings in damaged files or disk images and write each as a repaired recording");
  recover->add_option("INPUT", how.convert.inputs, "Damaged recordings, disk images or block devices (read only)")
      ->required();
  recover->add_option("-o,--output-dir", how.convert.outDir, "Where the repaired recordings go: OUTDIR/<name>[-N].zr");
  recover->add_flag("--list", how.convert.listOnly, "Only report what the scan finds; write nothing (no -o needed)");
  auto* yes = recover->add_flag("-y,--overwrite", how.convert.overwrite, "Replace existing files in OUTDIR");
  recover->add_flag("-n,--no-overwrite", how.convert.neverOverwrite, "Never replace an existing file (the default)")
      ->excludes(yes);
  AddRecoveryOptions(*recover, how.convert);
  AddReportingOptions(*recover, how.output);

  auto* frames = app.add_subcommand("frames", "Write PNG stills of the frames at given clock times");
  AddFramesOptions(*frames, how.frames);

  auto* codecs = app.add_subcommand("codecs", "List the video compressors");
  codecs->add_flag("--json", how.output.json, "One JSON object per compressor");

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  if (!reversed.empty()) reversed.pop_back();  // the program's name
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    return UsageError(err, e.what());
  }

  if (*convert) {
    how.command = Invocation::Command::Convert;
    const ConvertOptions& c = how.convert;
    if (c.outDir.empty()) {
      if (how.output.json || c.jobs != 0)
        return UsageError(err, "--json and -j belong to the batch form: convert INPUT... -o OUTDIR");
      if (c.inputs.size() != 2)
        return UsageError(err, "convert takes INPUT OUTPUT, or recordings and folders with -o OUTDIR");
    }
  } else if (*info) {
    how.command = Invocation::Command::Info;
  } else if (*recover) {
    how.command = Invocation::Command::Recover;
    if (how.convert.outDir.empty() && !how.convert.listOnly)
      return UsageError(err, "recover writes into a folder: -o OUTDIR (or --list to only report)");
  } else if (*codecs) {
    how.command = Invocation::Command::Codecs;
  } else if (*frames) {
    how.command = Invocation::Command::Frames;
    if (how.frames.at.empty() == how.frames.every.empty())
      return UsageError(err, "frames takes --at TIME (repeatable) or --every INTERVAL");
  }
  return -1;
}

int Execute(const Invocation& how, std::ostream& out, std::ostream& err) {
  switch (how.command) {
    case Invocation::Command::Convert:
      InstallCancelHandlers();
      return how.convert.outDir.empty() ? RunConvertOne(how, out, err) : RunBatch(how, out, err);
    case Invocation::Command::Info: return RunInfo(how, out, err);
    case Invocation::Command::Codecs: return RunCodecs(how, out, err);
    case Invocation::Command::Frames: return RunFrames(how, out, err);
    case Invocation::Command::Recover:
      InstallCancelHandlers();
      return RunRecover(how, out, err);
    case Invocation::Command::None: break;
  }
  return kExitUsage;
}

int Run(int argc, char** argv, std::ostream& out, std::ostream& err) {
  std::vector<std::string> args(argv, argv + argc);
  Invocation how;
  NotingBuffer noting(out.rdbuf());
  std::ostream results(&noting);
  int status = Parse(args, how, results, err);
  if (status < 0) {
    how.errIsTerminal = &err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
    status = Execute(how, results, err);
  }
  results.flush();
  if (noting.failed() || !out) {
    const int error = noting.error();
    err << "zentrova: cannot write to standard output" << (error ? std::string(": ") + std::strerror(error) : "")
        << (how.command == Invocation::Command::Convert ? " (the conversions went on)" : "") << "\n";
    err.flush();
    status = WorseStatus(status, kExitFailed);
  }
  return status;
}

}  // namespace zentrova::cli
