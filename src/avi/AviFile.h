#pragma once
// Our AVI writer, shaped like the calls the conversion makes: open a file, create streams from
// stream-info records, set formats, write samples at a position, release. Every call reports
// success as 0. Releasing the file (after its streams) completes it on disk.
#include <cstdint>
#include <memory>
#include <string>

#include "avi/AviTypes.h"
#include "avi/AviWriter.h"
#include "avi/ByteSink.h"

namespace zentrova::avi {

class AviStream {
 public:
  virtual ~AviStream() = default;
  // Sets the stream's format record (BitmapInfoHeader or WaveFormatEx). 0 on success.
  virtual int SetFormat(int32_t position, const void* format, int32_t size) = 0;
  // Appends `samples` samples of `bytes` bytes starting at sample `start`. 0 on success; the
  // counts written are reported through the two optional pointers.
  virtual int Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags,
                    int32_t* samplesWritten, int32_t* bytesWritten) = 0;
  // The stream-info record the stream was created with (a compressed picture format fills in
  // fccHandler).
  virtual StreamInfo Info() const { return {}; }
  // Sets the rate and scale the stream's header carries when the file completes (the frame
  // rate is known only once every sample is in). 0 on success; a stream that cannot refuses.
  virtual int SetRate(uint32_t rate, uint32_t scale) { return -1; }
  // Whether the file wants a codec's stream headers once, in the format record, rather than
  // repeated in the samples (MP4 and Matroska do).
  virtual bool WantsGlobalHeaders() const { return false; }
};

class AviFile {
 public:
  virtual ~AviFile() = default;
  // Creates a stream; streams are numbered in creation order. 0 on success.
  virtual int CreateStream(std::shared_ptr<AviStream>& stream, const StreamInfo& info) = 0;
  // Sets the file's tags; before the first sample only. 0 on success.
  virtual int SetTags(const FileTags& tags) { return -1; }
};

// Opens `path` for writing, created or emptied. 0 on success; otherwise `reason` says why in
// one line ("No such file or directory").
int OpenAviFile(std::shared_ptr<AviFile>& file, const std::string& path, std::string* reason);

// The same on a sink of the caller's (tests use sinks that fail like a full disk), with the
// segment limits given.
int OpenAviFile(std::shared_ptr<AviFile>& file, std::unique_ptr<ByteSink> sink, const WriterLimits& limits = {});

}  // namespace zentrova::avi
