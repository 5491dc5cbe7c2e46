#pragma once
// What the command line asked for, filled by the option set-up of each command.
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "avi/Compressor.h"
#include "cli/RateOption.h"

namespace zentrova::cli {

// How much the command prints besides its results.
struct OutputOptions {
  bool json = false;        // results as JSON Lines on standard output, nothing else there
  bool quiet = false;       // -q: only errors
  bool verbose = false;     // -v: the job's log lines in a batch too, skipped folders
  bool noProgress = false;  // --no-progress: no updating line even on a terminal
};

// The recording's clock: which part to convert, how to correct the clock, where frame times go.
struct TimeOptions {
  std::string from, to, duration;  // --from, --to, --duration (clip by time)
  double clockOffsetSeconds = 0;   // --clock-offset: added to every time of the recording
  std::string frameTimes;          // --frame-times FILE: a CSV of every frame written
  bool noSubtitles = false;        // --no-srt: no NAME.srt beside an AVI output, no subtitle track
  std::string timing = "rate";     // --timing rate|recorded: how the output's pictures are timed
  bool burnTime = false;           // --burn-time: the clock time drawn into the pictures
  bool frames = false;             // info --frames: a line per frame
  bool windowed() const { return !from.empty() || !to.empty() || !duration.empty(); }
};

struct ConvertOptions {
  // Recordings and folders; with two and no -o, the one-file form INPUT OUTPUT.
  std::vector<std::string> inputs;
  std::string outDir;  // -o: the batch form
  std::string codec = avi::kDefaultCodec;
  int quality = 90;
  std::string idct = "auto";
  bool overwrite = false;       // -y
  bool neverOverwrite = false;  // -n
  unsigned jobs = 0;            // -j: conversions at once; 0 = the number of cores
  unsigned threads = 0;         // --threads: threads of one conversion; 0 = its share of the cores
  OutputChoice outputChoice;    // --rate, --format
  // --recover: find the recording's frames by their structure, not only through its block chain
  // (convert); the same for `recover`, which writes repaired recordings.
  bool recover = false;
  std::string size;        // --size WxH: the picture size when a lost header cannot be inferred
  std::string generation;  // --generation older|newer
  bool listOnly = false;   // recover --list: report, write nothing
  bool report = false;     // --report: NAME.report.json and .txt beside each output
  std::string textEncoding;  // --text-encoding: the recording's texts (convert, info)
  TimeOptions time;
  std::vector<std::string> commandLine;  // the words the program was given, for the reports
  // --join: the recordings (INPUT... OUTPUT) into one output in time order, the pauses between
  // them filled with repeats of the last picture.
  bool join = false;
};

struct HashOptions {
  std::string input;
  std::string format = "md5";  // md5 or sha256
  std::string rate = "auto";
  std::string idct = "auto";
};

struct VerifyOptions {
  std::string output;  // the converted file, or a report
  std::string input;   // the recording; empty when `output` is a report
  double minPsnr = 30;
  bool perFrame = false;
  std::string idct = "auto";
};

// frames IN --at TIME... | --every INTERVAL -o DIR: PNG stills named by their clock time.
struct FramesOptions {
  std::string input;
  std::vector<std::string> at;
  std::string every;
  std::string outDir;
  std::string idct = "auto";
  double clockOffsetSeconds = 0;
  bool overwrite = false;
};

struct Invocation {
  enum class Command { None, Convert, Info, Codecs, Recover, Hash, Verify, Frames };
  Command command = Command::None;
  ConvertOptions convert;
  OutputOptions output;
  std::vector<std::string> infoInputs;
  HashOptions hash;
  VerifyOptions verify;
  FramesOptions frames;
  // Set by Run: standard error is a terminal, so a progress line may be drawn there.
  bool errIsTerminal = false;
};

// The options of `convert`. Options of later features join here, each in a line or two.
void AddConvertOptions(CLI::App& convert, ConvertOptions& options);
// --size and --generation, the overrides of a recording found without its header.
void AddRecoveryOptions(CLI::App& command, ConvertOptions& options);
// --text-encoding of `convert` and `info`.
void AddTextEncodingOption(CLI::App& command, ConvertOptions& options);
// -q, -v, --no-progress and --json of `convert`.
void AddReportingOptions(CLI::App& command, OutputOptions& output);

// The options of `hash`.
void AddHashOptions(CLI::App& hash, HashOptions& options);

// The options of `verify`.
void AddVerifyOptions(CLI::App& verify, VerifyOptions& options);
// --from, --to, --duration, --clock-offset, --frame-times, --no-srt of `convert`.
void AddTimeOptions(CLI::App& convert, TimeOptions& time);
void AddJoinOption(CLI::App& convert, ConvertOptions& options);

// The options of `frames`.
void AddFramesOptions(CLI::App& frames, FramesOptions& options);

// The file name ending of the batch form's outputs: ".avi", or that of the --format chosen.
std::string OutputExtension(const ConvertOptions& options);

}  // namespace zentrova::cli
