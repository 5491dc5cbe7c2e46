#pragma once
// The record of one conversion that goes with its output: what the recording was (its digest,
// its header), what was done to it (versions, settings, when), what came out (the output's
// digest, frames, duration), every frame that could not be shown as recorded, the exit status and
// the log. The command line writes it as NAME.report.json and NAME.report.txt beside the output;
// the desktop dialog can write the same.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Expected.h"
#include "convert/ConversionJob.h"
#include "recording/RecordingScan.h"

namespace zentrova {

struct ReportSetting {
  std::string name, value;
};

struct ConversionReport {
  struct File {
    std::string path;
    uint64_t size = 0;
    std::string sha256;     // empty when the file could not be read; `problem` says why
    int64_t modified = 0;   // seconds since 1970, UTC
    std::string problem;
  };

  File input;
  // The recording's header, as read.
  bool headerRead = false;
  uint32_t version = 0;
  int32_t width = 0, height = 0;
  int32_t startTime = 0, endTime = 0;  // the recorder's clock, seconds since 1970
  std::string text1, text2, text3;
  uint32_t framesDeclared = 0;

  std::string program;                 // "zentrova 1.0.0"
  std::string libraries;               // one line per library
  std::vector<ReportSetting> settings; // codec, quality, rate rule, recovery, ...
  int64_t started = 0, ended = 0;      // milliseconds since 1970, UTC

  File output;
  std::string container, codec;
  uint32_t frames = 0;
  std::string rate;                    // "25", "30000/1001"
  double duration = 0;                 // seconds: frames at that rate

  // Frames counted from 0 as written to the output; cut frames as read from the recording.
  FrameSpans blackFrames, damagedFrames, cutFrames;
  uint64_t audioBytesDropped = 0;
  std::vector<DamagedSpan> damage;     // what recovery found broken in the scanned file
  // Gaps in the recording's clock, as frame ranges. Nothing fills it yet.
  FrameSpans gaps;

  int exitStatus = 0;
  std::vector<std::string> log;
};

// The facts of a file as the report gives them: size, modification time and SHA-256 (read once,
// sequentially, read only, without touching its access time).
ConversionReport::File FileFacts(const std::string& path);

// The header facts of the recording, read without decoding it.
void ReadRecordingFacts(const std::string& path, ConversionReport& report);

// Fills in what a finished job says: frames, rate, anomalies.
void TakeLoopResult(const ConversionJob::LoopResult& loop, const DerivedRate& rate, ConversionReport& report);

// The readable twin of the JSON report.
std::string ReportText(const ConversionReport& report);

// "0-4, 9, 12-13"; "none" when empty.
std::string SpansText(const FrameSpans& spans);

// The report's files beside an output: "clip.avi" -> "clip.report.json" / "clip.report.txt".
std::string ReportPath(const std::string& output, const char* extension);

// Writes `text` to `path` whole or not at all (a temporary file synced, then renamed); the error
// says why it cannot.
Expected<void> WriteWholeFile(const std::string& path, const std::string& text);

}  // namespace zentrova
