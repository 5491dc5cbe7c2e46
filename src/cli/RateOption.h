#pragma once
// The command line's choice of frame rate and container (`--rate`, `--format`), and what
// `zentrova info` says about a recording's rate.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

#include "cli/Json.h"
#include "convert/ConversionJob.h"
#include "recording/ZrReader.h"

namespace zentrova::cli {

struct OutputChoice {
  std::string rate = "auto";
  std::string format;  // empty: from the output name
};

// Adds --rate and --format to `convert`; a rate or format that is none of the choices is a
// usage error.
void AddOutputOptions(CLI::App* convert, OutputChoice& choice);

// Sets the rate and container of `options` from the choice and the output name; the reason when
// the choice is malformed or the container cannot carry `codec` (raw pictures in MP4).
Expected<void> ApplyOutputOptions(const OutputChoice& choice, const std::string& output, const std::string& codec,
                                  JobOptions& options);

// A recording's rate as the conversion will derive it, and the classic rule's beside it.
struct RateReport {
  uint32_t frames = 0;
  uint32_t fetched = 0;  // frames the file really holds, read to its end
  uint64_t samples = 0;  // sound samples the conversion would write
  int64_t duration = 0;  // seconds, end - start
  DerivedRate rate;
  DerivedRate classic;
  // How much earlier (> 0) or later the pictures end than the sound (or the recording's
  // duration without sound) at the classic rate; 0 when there is nothing to compare with.
  double classicDrift = 0;
};

// Reads every frame of an open recording (the frame headers and bytes, nothing decoded) to count
// its sound, then derives both rates.
RateReport ReportRate(ZrReader& reader, const RecordingInfo& info);

// Lines for the plain output of `info`, and members for its JSON.
std::string RateText(const RateReport& report);
void AddRateJson(const RateReport& report, JsonObject& json);

}  // namespace zentrova::cli
