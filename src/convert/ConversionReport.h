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
#include "convert/Json.h"
#include "recording/RecordingClock.h"
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
  // Pauses of the recorder between two frames of the output, by the recording's clock.
  struct Gap {
    uint32_t frame = 0;           // the first frame after the pause, as written to the output
    uint32_t recordingFrame = 0;  // the same frame as counted in the recording
    int64_t from = 0, to = 0;     // milliseconds since 1970, UTC
  };
  std::vector<Gap> gaps;
  // How the clock placed the frames: "ticks", or why it could not ("spread evenly: ...", "not
  // read: ..."); empty when no clock was asked for (a recording found by recovery).
  std::string clock;

  int exitStatus = 0;
  std::vector<std::string> log;
};

// The exit status a report gives a job's outcome: the command line's, which the desktop dialog's
// reports give as well (0 saved, 4 the recording short, 3 a write failed, 130 cancelled), and
// 1 for a conversion that did not start.
int ReportStatusOf(JobOutcome outcome);
inline constexpr int kReportNotStarted = 1;

// The facts of a file as the report gives them: size, modification time and SHA-256 (read once,
// sequentially, read only, without touching its access time).
ConversionReport::File FileFacts(const std::string& path);

// A file's facts in the JSON of the reports: path, size and SHA-256, or a null SHA-256 and the
// problem when the file could not be read. The conversion report adds the modification time; a
// batch report's rows give no more.
JsonObject FileJson(const ConversionReport::File& f);

// The header facts of the recording, read without decoding it.
void ReadRecordingFacts(const std::string& path, ConversionReport& report);

// Fills in what a finished job says: frames, rate, anomalies.
void TakeLoopResult(const ConversionJob::LoopResult& loop, const DerivedRate& rate, ConversionReport& report);

// Fills in the pauses of the recorder between the frames a finished job wrote, which began at
// the recording's frame `firstFrame`. Call after TakeLoopResult.
void TakeClockGaps(RecordingClock& clock, uint32_t firstFrame, ConversionReport& report);

// The report as one JSON object on one line.
std::string ReportJson(const ConversionReport& report);

// "2026-12-09T01:47:38.123Z" for milliseconds since 1970.
std::string IsoUtcMillis(int64_t millis);

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
