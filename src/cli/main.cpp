// zentrova: converts ZR recordings into AVI files from the command line.
#include <CLI/CLI.hpp>

#include <atomic>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

#include "avi/Compressor.h"
#include "cli/ExitStatus.h"
#include "cli/RateOption.h"
#include "container/Tags.h"
#include "convert/ConversionJob.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"

namespace {

std::atomic<bool> gCancel{false};

void OnSignal(int) { gCancel.store(true); }

// Ctrl-C and SIGTERM set the cancel flag. The handlers do not restart system calls, so a call
// that blocks returns with EINTR and the conversion sees the flag.
void InstallCancelHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::string UtcText(int32_t seconds) { return zentrova::container::IsoUtc(seconds); }

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

int RunInfo(const std::string& input, bool json) {
  zentrova::ZrReader reader;
  reader.setFileErrorSink([](const std::string& m) { std::cerr << "zentrova: " << m << "\n"; });
  zentrova::RecordingInfo info;
  if (!reader.open(input, &info, 0, 1)) {
    std::cerr << "zentrova: " << input << ": " << reader.failureReason() << "\n";
    return 1;
  }
  const uint32_t generation = zentrova::GenerationOfVersion(reader.version());
  const uint32_t duration = static_cast<uint32_t>(reader.endTime()) - static_cast<uint32_t>(reader.startTime());
  const zentrova::cli::RateReport rate = zentrova::cli::ReportRate(reader, info);
  char gen[16];
  std::snprintf(gen, sizeof gen, "0x%08X", generation);
  if (json) {
    std::cout << "{\n"
              << "  \"version\": " << reader.version() << ",\n"
              << "  \"codecGeneration\": " << JsonString(gen) << ",\n"
              << "  \"resolutionCode\": " << int(reader.resolutionCode()) << ",\n"
              << "  \"width\": " << info.width << ",\n"
              << "  \"height\": " << info.height << ",\n"
              << "  \"sizeFamily\": " << info.sizeFamily << ",\n"
              << "  \"frameCount\": " << reader.frameCount() << ",\n"
              << "  \"blockCount\": " << reader.blockCount() << ",\n"
              << "  \"startTime\": " << JsonString(UtcText(reader.startTime())) << ",\n"
              << "  \"startTimeSeconds\": " << reader.startTime() << ",\n"
              << "  \"endTime\": " << JsonString(UtcText(reader.endTime())) << ",\n"
              << "  \"endTimeSeconds\": " << reader.endTime() << ",\n"
              << "  \"durationSeconds\": " << duration << ",\n"
              << zentrova::cli::RateJson(rate)
              << "  \"text1\": " << JsonString(reader.text1()) << ",\n"
              << "  \"text2\": " << JsonString(reader.text2()) << ",\n"
              << "  \"text3\": " << JsonString(reader.text3()) << "\n"
              << "}\n";
    return 0;
  }
  std::cout << "version:          " << reader.version() << "\n"
            << "codec generation: " << gen << "\n"
            << "resolution code:  " << int(reader.resolutionCode()) << "\n"
            << "picture size:     " << info.width << " x " << info.height << "\n"
            << "size family:      " << info.sizeFamily << "\n"
            << "frames:           " << reader.frameCount() << "\n"
            << "blocks:           " << reader.blockCount() << "\n"
            << "start:            " << UtcText(reader.startTime()) << "\n"
            << "end:              " << UtcText(reader.endTime()) << "\n"
            << "duration:         " << duration << " s\n"
            << zentrova::cli::RateText(rate)
            << "text1:            " << zentrova::container::Latin1ToUtf8(reader.text1()) << "\n"
            << "text2:            " << zentrova::container::Latin1ToUtf8(reader.text2()) << "\n"
            << "text3:            " << zentrova::container::Latin1ToUtf8(reader.text3()) << "\n";
  return 0;
}

int RunCodecs() {
  for (const auto& c : zentrova::avi::ListCompressors())
    std::cout << c.name << "\t" << c.description << "\t" << (c.available ? "available" : "not available") << "\n";
  return 0;
}

int RunConvert(const std::string& input, const std::string& output, const std::string& codec, int quality,
               const std::string& idct, bool overwrite, const zentrova::cli::OutputChoice& outputChoice) {
  zentrova::JobOptions options;
  std::string unusable;
  if (!zentrova::cli::ApplyOutputOptions(outputChoice, output, codec, options, &unusable)) {
    std::cerr << "zentrova: " << unusable << std::endl;
    return zentrova::cli::kExitUsage;
  }
  if (idct == "plain") options.idct = zentrova::IdctChoice::Plain;
  if (idct == "vector") options.idct = zentrova::IdctChoice::Vector;
  options.overwrite = overwrite;

  zentrova::ConversionJob job([](const std::string& line) { std::cout << line << std::endl; },
                              [](const std::string& message) { std::cerr << "zentrova: " << message << std::endl; },
                              options,
                              [](const std::string& reason) { std::cerr << "zentrova: " << reason << std::endl; });

  InstallCancelHandlers();
  zentrova::avi::CompressOptions chosen{codec, quality};
  if (job.Convert(input, output, [&] { return std::optional(chosen); }) != zentrova::ConversionJob::Setup::Started)
    return zentrova::cli::kExitFailed;
  const zentrova::ConversionJob::LoopResult result = job.RunFrameLoop(&gCancel);
  job.Finish();
  if (result.outcome != zentrova::JobOutcome::Saved && !result.reason.empty())
    std::cerr << "zentrova: " << result.reason << std::endl;
  if (result.outcome == zentrova::JobOutcome::Saved && gCancel.load()) return zentrova::cli::kExitCancelled;
  return zentrova::cli::ExitStatusOf(result.outcome);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Zentrova converts ZR recordings of a digital video recorder into AVI files."};
  app.set_version_flag("--version", "zentrova 1.0");
  app.require_subcommand(1);

  std::string input, output, codec = zentrova::avi::kDefaultCodec, idct = "auto";
  int quality = 90;
  bool json = false, overwrite = false, neverOverwrite = false;
  zentrova::cli::OutputChoice outputChoice;

  auto* convert = app.add_subcommand("convert", "Convert a recording into an AVI file");
  convert->add_option("INPUT", input, "The ZR recording (.zr or .zrx)")->required();
  convert->add_option("OUTPUT", output, "The file to write: AVI (its name must end in \"avi\"), .mkv or .mp4")->required();
  convert->add_option("--codec", codec,
                      "Video compressor: raw, mjpeg, mpeg4, h264 or ffv1 (see `zentrova codecs`). "
                      "The default is mpeg4 at high quality, which every player opens; raw output "
                      "runs to tens of gigabytes for an hour of video")
      ->capture_default_str();
  convert->add_option("--quality", quality, "Compressor quality, 0 (smallest) to 100 (best)")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  convert->add_option("--idct", idct, "Inverse DCT: auto (processor check), plain or vector")
      ->check(CLI::IsMember({"auto", "plain", "vector"}))
      ->capture_default_str();
  auto* yes = convert->add_flag("-y,--overwrite", overwrite, "Replace an existing output file");
  convert->add_flag("-n,--no-overwrite", neverOverwrite, "Never replace an existing output file (the default)")
      ->excludes(yes);
  zentrova::cli::AddOutputOptions(convert, outputChoice);

  auto* info = app.add_subcommand("info", "Show what a recording holds");
  info->add_option("INPUT", input, "The ZR recording")->required();
  info->add_flag("--json", json, "Print JSON");

  app.add_subcommand("codecs", "List the video compressors");

  CLI11_PARSE(app, argc, argv);
  if (*convert) return RunConvert(input, output, codec, quality, idct, overwrite && !neverOverwrite, outputChoice);
  if (*info) return RunInfo(input, json);
  return RunCodecs();
}
