#pragma once
// An output file and its streams, as the conversion writes them whatever the container: open a
// file, create streams from stream-info records, set formats, write samples at a position,
// release. The AVI writer is one implementation (avi/AviFile.h), the Matroska and MP4 writers of
// the libav module the others. A refused call says why in its error; the conversion turns that
// into the user's lines. Releasing the file (after its streams) completes it on disk.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/StreamRecords.h"
#include "base/Expected.h"
#include "base/Refusal.h"

namespace zentrova {

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Sets the stream's format record (BitmapInfoHeader or WaveFormatEx).
  virtual Expected<void> SetFormat(int32_t position, const void* format, int32_t size) = 0;
  // Appends `samples` samples of `bytes` bytes starting at sample `start`: all of them, or none
  // when refused.
  virtual Expected<void> Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags) = 0;
  // The stream-info record the stream was created with (a compressed picture format fills in
  // fccHandler).
  virtual StreamInfo Info() const { return {}; }
  // Sets the rate and scale the stream's header carries when the file completes (the frame
  // rate is known only once every sample is in); a stream that cannot refuses.
  virtual Expected<void> SetRate(uint32_t rate, uint32_t scale) {
    (void)rate;
    (void)scale;
    return Refusal("the stream's rate cannot be changed");
  }
  // Whether the file wants a codec's stream headers once, in the format record, rather than
  // repeated in the samples (MP4 and Matroska do).
  virtual bool WantsGlobalHeaders() const { return false; }

  // A stream that hands its samples on later than they are written (a compressor coding
  // several pictures at once) calls `before` with a sample's position just before it hands that
  // sample on, so that what belongs with it can go first; false from `before` counts as a
  // refused write. Such a stream says so with true; one that writes at once never calls it.
  virtual bool DeferWrites(std::function<bool(int32_t position)> before) {
    (void)before;
    return false;
  }
  // Hands on everything written so far.
  virtual Expected<void> Flush() { return {}; }
};

// The recording's clock as a Matroska or MP4 file carries it; an AVI file, which has one rate,
// takes none of it.
struct OutputClock {
  // Milliseconds from the first picture to picture `position`. Set: each picture plays at its own
  // time, so a pause of the recorder stays a pause (and the sound after it waits for it); empty:
  // the pictures play at the stream's rate.
  std::function<int64_t(uint64_t position)> recordedMs;
  // The text of picture `position` in a subtitle track titled `trackTitle`, which players show
  // only when chosen; empty: no such track.
  std::function<std::string(uint64_t position)> cueText;
  std::string trackTitle;
};

// What a completed file holds.
struct Completion {
  // Frames of the first video stream, as its header counts them; kUnknown for a file that does
  // not say (then the frames written are what it holds).
  uint64_t videoFrames = kUnknown;
  static constexpr uint64_t kUnknown = UINT64_MAX;
  int error = 0;             // errno of the first write that failed, 0 when none did
};

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Creates a stream; streams are numbered in creation order.
  virtual Expected<std::shared_ptr<OutputStream>> CreateStream(const StreamInfo& info) = 0;
  // Sets the file's tags; before the first sample only.
  virtual Expected<void> SetTags(const FileTags& tags) {
    (void)tags;
    return Refusal("the file takes no tags");
  }
  // Gives the file the recording's clock; before the first sample only. An AVI file refuses.
  virtual Expected<void> SetClock(const OutputClock& clock) {
    (void)clock;
    return Refusal("the file plays at one rate and takes no recorded clock");
  }

  // Completes the file now rather than at the last release (streams still held write no more)
  // and says what it holds: no frame when it could not be written whole or put on the disk.
  virtual Completion Complete() { return {Completion::kUnknown, writeError()}; }
  // errno of the first write that failed so far, 0 while none has.
  virtual int writeError() const { return 0; }
  // The file holds something worth keeping: an output written beside the file it replaces takes
  // that file's name now. A file that is never kept is removed when it is released, unless it
  // was a device. The error says why the move failed.
  virtual Expected<void> Keep() { return {}; }
  // Brings the file's headers and indexes on disk up to date now, as Keep does before the file
  // takes its name: a file that is kept only once complete is laid out like one kept early.
  virtual void Refresh() {}
  // Instead of Keep: the file, complete and never kept, takes `name` (while that name is free)
  // and its own name stays as it was. True once it stands at `name`, false when another file has
  // that name (nothing moved: the caller may try another); the error says why the move failed.
  virtual Expected<bool> KeepAt(const std::string& name) {
    (void)name;
    return Refusal("the file cannot be kept under another name");
  }
};

}  // namespace zentrova
