#pragma once
// A recording decoded as a raw conversion would decode it, with nothing written: the digest of
// every picture (as a reader of the raw AVI file decodes it), of the sound, and the rate the file
// would carry. The hash and verify commands and the report stand on it.
#include <memory>
#include <string>

#include "convert/ConversionJob.h"
#include "convert/DigestOutput.h"

namespace zentrova {

struct RecordingDigest {
  bool started = false;  // the job set up; else `reason` says why not
  bool cancelled = false;
  std::string reason;
  ConversionJob::LoopResult loop;
  std::shared_ptr<DigestOutput> output;
};

// Runs the job of a raw conversion of `input` under `options` (its rate rule, its decoder), every
// frame going to a DigestOutput of `kind`. `pictures` sees each picture as it goes by.
RecordingDigest DigestRecording(const std::string& input, JobOptions options, DigestKind kind,
                                DigestOutput::PictureSink pictures = {});

}  // namespace zentrova
