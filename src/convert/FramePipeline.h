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
// (enlarged where the generation asks for it, not yet line-doubled), at the picture's own size:
// the recording's, or another where the recorder changed its resolution.
struct FrameWork {
  bool black = true;           // no picture: a black frame
  std::vector<uint8_t> y, cb, cr;
  int32_t width = 0;           // the size of the picture the planes hold (Y stride width)
  int32_t height = 0;
  // The frame's own picture could not be shown as recorded (its data broken, or the picture it
  // was coded against lost): the frame repeats the last one shown, or is black.
  bool damaged = false;
  bool resized = false;        // the picture is of another size than the recording
  uint32_t audioBytes = 0;     // whole groups of three bytes; 0 when the frame has no sound
  bool audioDecoded = false;   // pcm holds them decoded; else audioCodes holds the bytes
  std::vector<uint8_t> audioCodes;
  std::vector<int16_t> pcm;    // audioBytes / 3 x 8 samples
  // With `coloured`, the frame's 24-bit picture (PictureOf) is made already, pictureBytes at
  // Picture(), and the planes hold nothing: the writer only hands it on.
  bool coloured = false;
  size_t pictureBytes = 0;

  // Buffers for every picture the decoder delivers, and for one of width x height (the
  // recording's size), which the frame holds black.
  void Allocate(int32_t width, int32_t height);
  // The same for a picture of width x height only: a frame of many in flight takes no more
  // memory than its picture. A picture of another size makes the buffers grow when it comes.
  void AllocateOwnSize(int32_t width, int32_t height);
  // Makes the frame one that waits as a 24-bit picture of `bytes` at `picture`, memory that
  // someone else owns (beginning on 32 bytes, for ConvertToRgb24Streamed), without planes.
  void UsePicture(uint8_t* picture, size_t bytes);
  uint8_t* Picture() { return picture_; }
  const uint8_t* Picture() const { return picture_; }

 private:
  uint8_t* picture_ = nullptr;
};

// Where a 24-bit picture's stores go: through the cache, for a picture used soon (the writer's
// own buffer); past it, for one that waits in memory for the writer.
enum class PictureStores { Cached, Streamed };

// Fills `work` from a fetched frame: the picture through `video`, and the sound through `audio`
// when `decodeAudio` (else its bytes are kept for DecodeFrameAudio on the writing side: the two
// stages share the work as the compressor makes it lighter or heavier). A frame marked as
// holding no picture is black (width x height, the recording's size).
//
// `referenceGood` carries from frame to frame whether the decoder's picture is the one the next
// inter picture was coded against. It turns bad with a frame after a gap (unless it is an intra
// picture) and with a picture the decoder fails on; it turns good with an intra picture decoded
// in full. A picture that fails, and an inter picture while the reference is bad, is damaged:
// the frame repeats `previous` (black when there is none). So does a frame without video bytes
// and a picture the decoder has nothing to deliver for (an inter picture before any intra one),
// without being damaged.
void DecodeFrameWork(const FrameRecord& record, VideoDecoder& video, G726Decoder& audio, bool decodeAudio,
                     int32_t width, int32_t height, const FrameWork* previous, bool& referenceGood,
                     FrameWork& work);

// Decodes the frame's kept sound bytes, in pieces of at most G726Decoder::kBufferBytes (the state
// running on between them, and on from frame to frame); nothing when done already.
void DecodeFrameAudio(FrameWork& work, G726Decoder& audio);

// The frame's picture for a compressor that takes planes, width x height, line-doubled when
// `doubled`. A picture of another size is scaled into `scratch` (see ScalePlanes), which must
// outlive the use of the result.
avi::PlanarPicture PlanesOf(const FrameWork& work, int32_t width, int32_t height, bool doubled,
                            std::vector<uint8_t>& scratch);

// Builds the 2H-row frame of a 640- or 704-wide picture of 24 bits: each row, then the byte-wise
// average of it and the row below, rounded down (the last row twice).
void DoubleLines(const uint8_t* picture, int32_t width, int32_t height, uint8_t* frame);

// The frame's 24-bit picture: width x outputHeight pixels, line-doubled when outputHeight is
// twice height; black frames are all zero. A picture of another size is converted at its own
// size into `scratch`, then scaled (ScalePicture) before the lines are doubled.
void PictureOf(const FrameWork& work, int32_t width, int32_t height, int32_t outputHeight, uint8_t* frame,
               std::vector<uint8_t>& scratch, PictureStores stores = PictureStores::Cached);

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
