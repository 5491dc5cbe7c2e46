#pragma once
// convert DIR -o OUTDIR --report: beside the reports of the recordings, one of the batch as a
// whole, OUTDIR/zentrova-batch.report.json and .txt: what was run and when, a row per recording
// with both files' SHA-256, and the batch's exit status.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/ConversionReport.h"

namespace zentrova::cli {

struct BatchReport {
  struct Row {
    std::string input, output;  // output empty when none was made
    std::string status;         // ok, skipped, partial, failed
    std::string reason;
    int exitStatus = 0;
    uint32_t frames = 0;
    // Filled in by WriteBatchReport where the recording's own report did not give them.
    ConversionReport::File inputFile, outputFile;
    bool hashed = false;
    std::string report;  // the recording's own report, where one was written
  };
  std::string program;
  std::string commandLine;
  int64_t started = 0, ended = 0;  // milliseconds since 1970, UTC
  std::vector<Row> rows;
  size_t notStarted = 0;  // recordings a stop left unconverted
  int exitStatus = 0;
};

// Hashes what the rows do not have yet and writes the two files into `folder`, under a name no
// earlier batch's report has (zentrova-batch.report.json, zentrova-batch-2.report.json, ...).
// The JSON file's path, or why the report was not written.
Expected<std::string> WriteBatchReport(const std::string& folder, BatchReport& report);

// Both forms, for the tests of their readers.
std::string BatchReportJson(const BatchReport& report);
std::string BatchReportText(const BatchReport& report);

}  // namespace zentrova::cli
