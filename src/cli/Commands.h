#pragma once
// The commands of `zentrova`, one file each. Each returns its exit status (cli/ExitStatus.h).
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/TimeWindow.h"
#include "convert/ConversionJob.h"
#include "recording/RecordingScan.h"

namespace zentrova::cli {

// convert INPUT OUTPUT: one recording, the job's log on `out`.
int RunConvertOne(const Invocation& how, std::ostream& out, std::ostream& err);
// convert INPUT... OUTPUT --join: the recordings into one output in time order; `options` are the
// job's, set from the command line.
int RunConvertJoined(const Invocation& how, JobOptions options, std::ostream& out, std::ostream& err);
// One conversion of `input` into `output`, its log on `out` (on `err` with --json); returns the
// exit status. `loop` receives the job's result, `finalRate` the rate the output carries.
int ConvertWith(const Invocation& how, const JobOptions& options, const std::string& input, const std::string& output,
                std::ostream& out, std::ostream& err, ConversionJob::LoopResult* loop = nullptr,
                const std::vector<DamagedSpan>* damage = nullptr, FrameRate* finalRate = nullptr,
                RecordingClock* clock = nullptr);
// What the frames a job wrote are on the recordings' timeline, from its result and the rate its
// output carries.
using FramesOfJob = std::function<WrittenFrames(const ConversionJob::LoopResult& loop, FrameRate rate)>;
// ConvertWith, with the files that carry the clock beside its output (cli/ClockFiles.h): an
// existing --frame-times file without -y stops it before anything is written; after the job
// they are written for the frames `written` names.
int ConvertWithClockFiles(const Invocation& how, const JobOptions& options, const std::string& input,
                          const std::string& output, std::ostream& out, std::ostream& err, RecordingClock* clock,
                          const FramesOfJob& written);
// convert INPUT... -o OUTDIR.
int RunBatch(const Invocation& how, std::ostream& out, std::ostream& err);
// info INPUT...
int RunInfo(const Invocation& how, std::ostream& out, std::ostream& err);
// recover INPUT... -o OUTDIR: repaired recordings.
int RunRecover(const Invocation& how, std::ostream& out, std::ostream& err);
// hash INPUT: per-picture digests in ffmpeg's framemd5 text, and the sound's MD5.
int RunHash(const Invocation& how, std::ostream& out, std::ostream& err);
// verify OUTPUT INPUT: the output compared picture by picture with the recording decoded again.
int RunVerify(const Invocation& how, std::ostream& out, std::ostream& err);
// verify REPORT.json: the files a report names still have the digests it records.
int RunVerifyReport(const Invocation& how, std::ostream& out, std::ostream& err);
// frames IN --at TIME... | --every INTERVAL -o DIR: PNG stills.
int RunFrames(const Invocation& how, std::ostream& out, std::ostream& err);
// codecs
int RunCodecs(const Invocation& how, std::ostream& out, std::ostream& err);

// The scan's overrides from --size and --generation; false with a message when they are not valid.
Expected<void> ScanOptionsOf(const ConvertOptions& options, ScanOptions& scan);

// The --idct choice by name ("auto", "plain", "vector").
IdctChoice IdctOf(const std::string& name);

// What --version prints: the program's version and the libraries' versions.
std::string VersionText();

}  // namespace zentrova::cli
