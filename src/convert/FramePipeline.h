#pragma once
// The frame loop in two stages: reading and decoding a frame on one thread, compressing and
// writing it on another, with a few frames' buffers between them handed over by index. The
// frames reach the second stage in order, and what it writes is what one thread would write.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "avi/Compressor.h"
#include "recording/FrameRecord.h"

namespace zentrova {

class G726Decoder;
class VideoDecoder;

// One frame between the stages: its sound decoded to PCM and its picture as the decoder's planes
// at the recording's size (enlarged where the generation asks for it, not yet line-doubled).
struct FrameWork {
  bool black = true;           // no picture: a black frame
  std::vector<uint8_t> y, cb, cr;
  uint32_t audioBytes = 0;     // whole groups of three bytes; 0 when the frame has no sound
  bool audioDecoded = false;   // pcm holds them decoded; else audioCodes holds the bytes
  std::vector<uint8_t> audioCodes;
  std::vector<int16_t> pcm;    // audioBytes / 3 x 8 samples

  // Buffers for pictures of width x height.
  void Allocate(int32_t width, int32_t height);
};

// Fills `work` from a fetched frame: the picture through `video`, and the sound through `audio`
// when `decodeAudio` (else its bytes are kept for DecodeFrameAudio on the writing side: the two
// stages share the work as the compressor makes it lighter or heavier). A frame marked as
// holding no picture is black; one whose picture the decoder does not deliver (no start code, a
// refused picture) repeats `previous` (black when there is none).
void DecodeFrameWork(const FrameRecord& record, VideoDecoder& video, G726Decoder& audio, bool decodeAudio,
                     int32_t width, int32_t height, const FrameWork* previous, FrameWork& work);

// Decodes the frame's kept sound bytes, in pieces of at most G726Decoder::kBufferBytes (the state
// running on between them, and on from frame to frame); nothing when done already.
void DecodeFrameAudio(FrameWork& work, G726Decoder& audio);

// The frame's picture for a compressor that takes planes, line-doubled when `doubled`.
avi::PlanarPicture PlanesOf(const FrameWork& work, int32_t width, int32_t height, bool doubled);

// The frame's 24-bit picture: width x outputHeight pixels, line-doubled when outputHeight is
// twice height; black frames are all zero.
void PictureOf(const FrameWork& work, int32_t width, int32_t height, int32_t outputHeight, uint8_t* frame);

class FramePipeline {
 public:
  // Fills or writes the buffer of the given slot. Returning false ends the loop: from `produce`,
  // there is no further frame (that slot holds none); from `consume`, stop writing.
  using Stage = std::function<bool(size_t slot)>;

  // With `threaded`, `produce` runs on a thread of its own, at most `slots` frames ahead of
  // `consume`; otherwise the two take turns on the calling thread, one slot is used and the
  // order of every call is that of a plain loop.
  FramePipeline(size_t slots, bool threaded);

  // Runs until `produce` has no further frame and all have been consumed, or `consume` says
  // stop. `consume` always runs on the calling thread, in frame order. Returns once the
  // producing thread has ended. When no thread can be started the two take turns instead. An
  // exception of either stage ends the run and reaches the caller.
  void Run(const Stage& produce, const Stage& consume);

  size_t slotCount() const { return slots_; }

  // Whether a job allowed `threads` threads (0: as many as the machine has cores) runs its frame
  // loop in two threads.
  static bool ShouldThread(unsigned threads);

 private:
  // False, having called neither stage, when the producing thread could not be started.
  bool RunThreaded(const Stage& produce, const Stage& consume);

  size_t slots_;
  bool threaded_;
};

}  // namespace zentrova
