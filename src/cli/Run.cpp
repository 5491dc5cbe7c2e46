#include "cli/Run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Signals.h"
#include "cli/Suggest.h"
#include "container/ContainerFile.h"
#include "container/Tags.h"
#include "convert/Messages.h"

namespace zentrova::cli {
namespace {

constexpr const char* kUsage =
    "Usage: zentrova convert INPUT OUTPUT.avi [options]\n"
    "       zentrova convert INPUT... -o OUTDIR [-j N] [--json] [options]\n"
    "       zentrova convert INPUT... OUTPUT --join [--from TIME] [--to TIME] [options]\n"
    "       zentrova info INPUT|FOLDER... [--json] [--frames] [--clock-offset SECONDS]\n"
    "       zentrova recover INPUT... -o OUTDIR|--list [--json]\n"
    "       zentrova frames INPUT --at TIME [--at TIME...] | --every INTERVAL -o OUTDIR\n"
    "       zentrova codecs [--json]\n"
    "       zentrova hash INPUT [--format md5|sha256]\n"
    "       zentrova verify OUTPUT INPUT [--min-psnr DB] | verify NAME.report.json\n";

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

bool EndsWithNoCase(const std::string& name, const std::string& tail) {
  return name.size() >= tail.size() && LowerCase(name.substr(name.size() - tail.size())) == tail;
}

bool IsRecordingName(const std::string& name) { return EndsWithNoCase(name, ".zr") || EndsWithNoCase(name, ".zrx"); }

// Why a compressor name is none of ours, with the nearest one; "" when it is one. Whether this
// machine's libraries provide it is the conversion's to say.
std::string CodecProblem(const std::string& codec) {
  const std::vector<std::string> names = avi::CompressorNames();
  if (std::find(names.begin(), names.end(), codec) != names.end()) return {};
  std::string known;
  for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
  return "unknown codec \"" + Printable(codec) + "\"" + DidYouMean(codec, names) + "; the codecs are " + known;
}

// Why the one-file form's OUTPUT cannot be written as asked; "" when it can.
std::string OutputNameProblem(const std::string& output, const std::string& format) {
  if (output == "-")
    return "the output cannot go to standard output: name a file ending in .avi, .mkv or .mp4";
  struct stat st {};
  if (::stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return Printable(output) + " is a folder: name a file in it, or add -o " + Printable(output) +
           " to convert into it";
  if (format.empty() && !container::IsOutputName(output))
    return Printable(output) + ": the output's name must end in .avi, .mkv or .mp4";
  if (format == "avi" && !EndsWithNoCase(output, "avi"))
    return Printable(output) + ": an AVI output's name must end in .avi";
  return {};
}

// The subcommand the user meant when the first word is none of them: "" when it is one, or an
// option, or nothing is near.
std::string UnknownCommand(const std::vector<std::string>& args, CLI::App& app) {
  if (args.size() < 2 || args[1].empty() || args[1][0] == '-') return {};
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
  if (std::find(names.begin(), names.end(), args[1]) != names.end()) return {};
  return "unknown command \"" + Printable(args[1]) + "\"" + DidYouMean(args[1], names);
}

}  // namespace

std::optional<int> Parse(const std::vector<std::string>& args, Invocation& how, std::ostream& out, std::ostream& err) {
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
  info->add_option("INPUT", how.infoInputs, "ZR recordings, or folders searched for .zr and .zrx files")->required();
  info->add_flag("--json", how.output.json, "One JSON object per recording");
  AddTextEncodingOption(*info, how.convert);
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

  auto* hash = app.add_subcommand(
      "hash", "Print the digest of every picture (ffmpeg's framemd5 text of a raw output) and of the sound");
  AddHashOptions(*hash, how.hash);

  auto* verify = app.add_subcommand(
      "verify", "Compare an output with its recording decoded again, or check the digests a report records");
  AddVerifyOptions(*verify, how.verify);
  auto* frames = app.add_subcommand("frames", "Write PNG stills of the frames at given clock times");
  AddFramesOptions(*frames, how.frames);

  auto* codecs = app.add_subcommand("codecs", "List the video compressors");
  codecs->add_flag("--json", how.output.json, "One JSON object per compressor");

  if (const std::string unknown = UnknownCommand(args, app); !unknown.empty()) return UsageError(err, unknown);

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
  if (!how.convert.textEncoding.empty() && !container::KnownTextEncoding(how.convert.textEncoding))
    return UsageError(err, "unknown text encoding \"" + Printable(how.convert.textEncoding) +
                               "\" (`iconv --list` shows the names)");

  if (*convert) {
    how.command = Invocation::Command::Convert;
    ConvertOptions& c = how.convert;
    // The options before the files: a mistyped compressor is said before anything about names.
    c.codec = LowerCase(c.codec);
    if (const std::string problem = CodecProblem(c.codec); !problem.empty()) return UsageError(err, problem);
    if (c.join) {
      if (!c.outDir.empty()) return UsageError(err, "--join writes one output: convert INPUT... OUTPUT --join");
      if (c.recover) return UsageError(err, "--join does not combine with --recover");
      if (c.report) return UsageError(err, "--join does not combine with --report yet");
      if (c.time.burnTime) return UsageError(err, "--join does not combine with --burn-time yet");
      if (c.jobs != 0) return UsageError(err, "-j belongs to the batch form: convert INPUT... -o OUTDIR");
      if (c.inputs.size() < 2) return UsageError(err, "--join takes the recordings and then the output: INPUT... OUTPUT");
      const std::string& output = c.inputs.back();
      std::string problem = IsRecordingName(output) ? "--join writes into the last name given, which names a recording"
                                                    : OutputNameProblem(output, c.outputChoice.format);
      if (!problem.empty()) {
        out << messages::kBadOutputName << std::endl;
        return UsageError(err, problem);
      }
    } else if (c.outDir.empty()) {
      if (c.jobs != 0) return UsageError(err, "-j belongs to the batch form: convert INPUT... -o OUTDIR");
      if (c.inputs.size() > 2) return UsageError(err, "several recordings: add -o DIR");
      if (c.inputs.size() != 2)
        return UsageError(err, "convert takes INPUT OUTPUT, or recordings and folders with -o OUTDIR");
      // The old line stays on standard output, where scripts have always looked for it.
      std::string problem = IsRecordingName(c.inputs[1]) ? "several recordings: add -o DIR"
                                                         : OutputNameProblem(c.inputs[1], c.outputChoice.format);
      if (!problem.empty()) {
        out << messages::kBadOutputName << std::endl;
        return UsageError(err, problem);
      }
    }
  } else if (*info) {
    how.command = Invocation::Command::Info;
  } else if (*recover) {
    how.command = Invocation::Command::Recover;
    if (how.convert.outDir.empty() && !how.convert.listOnly)
      return UsageError(err, "recover writes into a folder: -o OUTDIR (or --list to only report)");
  } else if (*hash) {
    how.command = Invocation::Command::Hash;
  } else if (*verify) {
    how.command = Invocation::Command::Verify;
  } else if (*codecs) {
    how.command = Invocation::Command::Codecs;
  } else if (*frames) {
    how.command = Invocation::Command::Frames;
    if (how.frames.at.empty() == how.frames.every.empty())
      return UsageError(err, "frames takes --at TIME (repeatable) or --every INTERVAL");
  }
  return std::nullopt;
}

int Execute(const Invocation& how, std::ostream& out, std::ostream& err) {
  switch (how.command) {
    case Invocation::Command::Convert:
      InstallCancelHandlers();
      return how.convert.outDir.empty() ? RunConvertOne(how, out, err) : RunBatch(how, out, err);
    case Invocation::Command::Info: return RunInfo(how, out, err);
    case Invocation::Command::Codecs: return RunCodecs(how, out, err);
    case Invocation::Command::Hash:
      InstallCancelHandlers();
      return RunHash(how, out, err);
    case Invocation::Command::Verify:
      InstallCancelHandlers();
      return RunVerify(how, out, err);
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
  const std::optional<int> parsed = Parse(args, how, results, err);
  how.convert.commandLine = args;
  int status = 0;
  if (parsed) {
    status = *parsed;
  } else {
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
