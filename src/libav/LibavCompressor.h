#pragma once
// Compressed video streams through libavcodec: every 24-bit bottom-up picture written to the
// stream is converted with libswscale (or, for the 4:2:0 codecs, the decoder's planes are taken
// through PlanarInput), encoded, and the packet handed to the source stream of the AVI file with
// the codec's own key-frame flag.
#include <cstdint>
#include <memory>
#include <string>

#include "avi/AviFile.h"
#include "base/Expected.h"

namespace zentrova::avi {

struct LibavCodec {
  const char* encoder;  // libavcodec encoder name
  uint32_t fourcc;      // biCompression and strh fccHandler
};

// Both load the libav module on their first call; without it no libav encoder is available.
bool LibavEncoderAvailable(const char* encoder);
// Why the libav module could not be loaded, in one line; empty when it is loaded. Loads it.
std::string LibavProblem();

// The stream opens its encoder at SetFormat and refuses there when the encoder cannot take
// pictures of that size. Releasing it flushes the encoder's remaining packets into `source`.
// `threads` as CompressOptions::threads. The stream also implements PlanarInput (Compressor.h).
// Refused when the libav module cannot be loaded.
Expected<std::shared_ptr<OutputStream>> MakeLibavStream(const LibavCodec& codec, std::shared_ptr<OutputStream> source,
                                                        int quality, unsigned threads = 1);

}  // namespace zentrova::avi
