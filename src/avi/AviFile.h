#pragma once
// Our AVI writer as an output file (OutputFile.h), and the sink a conversion's output is written
// through, which decides what the output may replace and how it comes to stand at its name.
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "media/StreamRecords.h"
#include "avi/AviWriter.h"
#include "avi/ByteSink.h"
#include "media/OutputFile.h"

namespace zentrova::avi {

// Opens `path` for writing, created or emptied; the error says why in one line ("No such file or
// directory").
Expected<std::shared_ptr<OutputFile>> OpenAviFile(const std::string& path);

// The same on a sink of the caller's (tests use sinks that fail like a full disk), with the
// segment limits given.
Expected<std::shared_ptr<OutputFile>> OpenAviFile(std::unique_ptr<ByteSink> sink, const WriterLimits& limits = {});

// What a conversion's output may replace.
struct OutputOptions {
  bool overwrite = false;  // an existing regular file may be replaced
  // The recording being read: an output that reaches the same file is refused.
  bool hasInput = false;
  uint64_t inputDevice = 0;
  uint64_t inputInode = 0;
  // An open folder the output stays inside (a batch's output folder or one below it, opened
  // without following links): only the last component of the output's path counts, as a name in
  // that folder; a link at that name is never followed, and the file, its temporary and the
  // rename all stay in the folder, however its path is changed meanwhile. -1: the path as given.
  int folder = -1;
};

// The sink of a conversion's output, which knows how the file comes to stand at its name.
class OutputSink : public ByteSink {
 public:
  virtual int error() const = 0;                // errno of the first failed write, 0 while none
  virtual Expected<void> Keep() = 0;            // see OutputFile::Keep
  virtual Expected<bool> KeepAt(const std::string& name) {  // see OutputFile::KeepAt
    (void)name;
    return Refusal("the file cannot be kept under another name");
  }
  // Puts what was written on the disk (fdatasync), and the name once the file stands at it (the
  // folder is synced after the rename), before anyone is told the file is saved. False when the
  // system reports a failure, which error() then gives; a device written in place has nothing to
  // sync and always succeeds.
  virtual bool Sync() { return true; }
};

// Opens the output of a conversion, deciding before anything is opened for writing:
// - nothing at the name: a new file beside it under a hidden temporary name, which takes the
//   name when kept (only while the name is still free) and is removed unless kept, so an output
//   never stands at its name before it holds something;
// - the recording itself in any spelling (another path, a symbolic or hard link): refused;
// - an existing regular file: refused unless `overwrite`, or while another conversion writes it;
//   then a temporary file beside it takes its place when kept, and the existing file is
//   untouched until then;
// - a device that can seek (a link to /dev/null): written in place;
// - a folder, a FIFO, a socket or a device that cannot seek: refused.
// A refusal's error says why in one line.
Expected<std::unique_ptr<OutputSink>> OpenOutputSink(const std::string& path, const OutputOptions& options);

// Whether a conversion is writing the file at `path` now (it holds the file's lock): such a file
// is neither replaced nor taken for the leftover of a conversion that was stopped.
bool IsBeingWritten(const std::string& path);

// An AVI file on such an output.
Expected<std::shared_ptr<OutputFile>> OpenAviOutput(const std::string& path, const OutputOptions& options,
                                                 const WriterLimits& limits = {});

}  // namespace zentrova::avi
