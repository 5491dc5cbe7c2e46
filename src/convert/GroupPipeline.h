#pragma once
// The frame loop on several cores. The recording is read in order (its sound too, whose state
// runs from frame to frame) and cut into groups of pictures: an intra picture and the inter
// pictures after it. Threads take the groups in order and decode them side by side, each with a
// decoder of its own, and the frames are written strictly in the recording's order. A frame is
// the same, byte for byte, as the one decoder of the two-stage loop (FramePipeline) would have
// made it. No thread is given over to reading or writing: each thread, the calling one among
// them, writes the next frame once it is decoded, else decodes, else reads, so that there are no
// more threads than cores and a frame goes to the writer without a switch between threads.
//
// A group starts only where a decoder of its own gives what the one decoder gives: at an intra
// picture that decodes without a fault, whose size is a whole number of macroblocks (so that it
// leaves nothing of an earlier picture in the planes) and covers at least as many samples as any
// picture before it (so that nothing an earlier picture left beyond it can show later). Every
// other picture (an inter picture before the first intra one, a broken intra picture, a picture
// of an odd size) stays in the group before it and is decoded in order after it.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "convert/FramePipeline.h"
#include "recording/FrameRecord.h"
#include "video/VideoDecoder.h"

namespace zentrova {

class G726Decoder;

struct GroupPipelineSettings {
  unsigned workers = 2;        // threads that read, decode and write, the calling one among them
  // Frames decoded ahead of the writer, at most: what bounds the memory, whatever the number of
  // workers and the length of a group. A worker whose next frame is further ahead reads, or waits.
  size_t window = 64;
  // Compressed bytes read ahead of the workers, at most (one frame always goes); and never more
  // frames than the window and one for each worker ahead of the writer.
  size_t readAheadBytes = 8u << 20;
  int32_t width = 0;          // the recording's picture size
  int32_t height = 0;
  uint32_t stamp = 0;         // codec generation
  // When not 0, each worker makes the frames' 24-bit pictures of width x pictureHeight itself
  // (PictureOf), straight after decoding them, and the frames wait as pictures, not planes: the
  // planes are made in the worker's own two buffers, which stay in its cache, and read once
  // there. Decoded into the slots and coloured by the writer, they went out to memory and back
  // twice, and the writer, which every frame passes, spent twice as long on each.
  int32_t pictureHeight = 0;
  IdctChoice idct = IdctChoice::Auto;
};

class GroupPipeline {
 public:
  // Fills the next frame in the recording's order; null when there is none. Called by one
  // thread at a time, any of the pipeline's, while another may be writing.
  using Fetch = std::function<const FrameRecord*()>;
  // Writes one frame, in the recording's order; false: stop. Called by one thread at a time,
  // any of the pipeline's.
  using Write = std::function<bool(FrameWork& frame)>;

  explicit GroupPipeline(const GroupPipelineSettings& settings);

  // Runs until every frame read has been written or `write` says stop, on the calling thread and
  // workers - 1 threads more (fewer when the system has none to give). False, having fetched
  // nothing, when the decoders or the frames' memory could not be had: the caller runs the loop
  // itself. An exception of any stage ends the run and reaches the caller.
  bool Run(const Fetch& fetch, G726Decoder& audio, const Write& write);

  // Frames of a window for `budgetBytes` of frames in flight, each of `frameBytes`.
  static size_t WindowFor(size_t budgetBytes, size_t frameBytes, unsigned workers);

 private:
  GroupPipelineSettings settings_;
};

}  // namespace zentrova
