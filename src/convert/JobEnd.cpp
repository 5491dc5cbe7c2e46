#include "convert/ConversionJob.h"

#include "convert/Messages.h"

namespace zentrova {
namespace {

// "clip.avi" -> "clip.partial.avi", then "clip.partial-2.avi", ...: where the part of a
// conversion that was to replace "clip.avi" is kept.
std::string PartialName(const std::string& output, int attempt) {
  const size_t slash = output.rfind('/');
  const size_t dot = output.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExtension ? output.substr(0, dot) : output;
  const std::string extension = hasExtension ? output.substr(dot) : std::string();
  return stem + ".partial" + (attempt > 1 ? "-" + std::to_string(attempt) : std::string()) + extension;
}

}  // namespace

void ConversionJob::KeepPartial() {
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string name = PartialName(outputPath_, attempt);
    const auto kept = aviFile_->KeepAt(name);
    if (!kept) return;  // not kept: released with the file
    if (*kept) {
      partialPath_ = name;
      return;
    }
  }
}

std::string ConversionJob::PartialText() const {
  if (partialPath_.empty()) return "; " + outputPath_ + " is as it was";
  return " in " + partialPath_ + "; " + outputPath_ + " is as it was";
}

void ConversionJob::Finish() {
  // A cancel is never reported as a saved file: its line ends the log.
  if (!cancelled_) Log(messages::kSaved);
  cancelled_ = false;
  for (const std::string& line : endLines_) Log(line);
  Diagnose(endReason_);
  endLines_.clear();
  endReason_.clear();
}

}  // namespace zentrova
