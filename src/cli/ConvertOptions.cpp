#include "cli/Options.h"

namespace zentrova::cli {

void AddConvertOptions(CLI::App& convert, ConvertOptions& o) {
  convert.add_option("INPUT", o.inputs,
                     "INPUT OUTPUT: one recording (.zr or .zrx) and the file to write: .avi, .mkv or .mp4 "
                     "(in any case). INPUT... -o OUTDIR: recordings and folders, searched "
                     "recursively")
      ->required();
  convert.add_option("-o,--output-dir", o.outDir,
                     "Write every recording as OUTDIR/<relative path>/<name>.avi (the batch form)");
  convert.add_option("--codec", o.codec,
                     "Video compressor: raw, mjpeg, mpeg4, h264 or ffv1, in any case (see `zentrova codecs`). "
                     "The default is mpeg4 at high quality, which every player opens; raw output "
                     "runs to tens of gigabytes for an hour of video")
      ->capture_default_str();
  convert.add_option("--quality", o.quality, "Compressor quality, 0 (smallest) to 100 (best)")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  convert.add_option("--idct", o.idct, "Inverse DCT: auto (processor check), plain or vector")
      ->check(CLI::IsMember({"auto", "plain", "vector"}))
      ->capture_default_str();
  auto* yes = convert.add_flag("-y,--overwrite", o.overwrite,
                               "Replace an existing output file (in a batch: convert again even complete ones)");
  convert.add_flag("-n,--no-overwrite", o.neverOverwrite, "Never replace an existing output file (the default)")
      ->excludes(yes);
  convert.add_option("-j,--jobs", o.jobs, "Conversions at once in a batch (default: the number of cores)")
      ->check(CLI::Range(1u, 1024u));
  convert.add_option("--threads", o.threads,
                     "Threads of one conversion, decoding pictures side by side (default: the number of cores, "
                     "shared out among a batch's conversions); the output is the same on any number")
      ->check(CLI::Range(1u, 256u));
  AddOutputOptions(&convert, o.outputChoice);
  auto* recover = convert.add_flag("--recover", o.recover,
                   "Find the frames of a damaged recording by their structure: past broken or stale block "
                   "links, damaged headers, a lost file header; several recordings in one file (or a disk "
                   "image) each become their own output: OUTPUT, OUTPUT-2, ...");
  AddRecoveryOptions(convert, o);
  convert.add_flag("--report", o.report,
                   "Write NAME.report.json and NAME.report.txt beside each output: the SHA-256 of the recording "
                   "and of the output, versions, settings, frames not shown as recorded, exit status and log");
  AddTextEncodingOption(convert, o);
  AddTimeOptions(convert, o.time);
  AddJoinOption(convert, o);
  // They describe recordings that only a scan finds; without one they would be ignored in silence.
  convert.get_option("--size")->needs(recover);
  convert.get_option("--generation")->needs(recover);
}

void AddRecoveryOptions(CLI::App& command, ConvertOptions& o) {
  command.add_option("--size", o.size, "Picture size of recordings found without their header, as WxH (352x288)");
  command.add_option("--generation", o.generation,
                     "Codec generation of recordings found without their header: older (format 257) or newer "
                     "(format 4096)")
      ->check(CLI::IsMember({"older", "newer"}));
}

void AddTextEncodingOption(CLI::App& command, ConvertOptions& o) {
  command.add_option("--text-encoding", o.textEncoding,
                     "Encoding of the recording's texts, as iconv names it (CP936, ISO-8859-2, ...); "
                     "by default UTF-8 when they are valid UTF-8, else Windows-1252");
}

void AddReportingOptions(CLI::App& command, OutputOptions& output) {
  command.add_flag("--json", output.json,
                   "Print one JSON object per recording as it finishes, and nothing else on standard output");
  auto* quiet = command.add_flag("-q,--quiet", output.quiet, "Print only errors");
  command.add_flag("-v,--verbose", output.verbose, "Print more: the job's log lines in a batch, skipped folders")
      ->excludes(quiet);
  command.add_flag("--no-progress", output.noProgress, "No progress line, even on a terminal");
}

std::string OutputExtension(const ConvertOptions& o) {
  const std::string& format = o.outputChoice.format;
  return format.empty() ? ".avi" : "." + format;
}

}  // namespace zentrova::cli
