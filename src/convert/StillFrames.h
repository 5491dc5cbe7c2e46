#pragma once
// Single frames of a recording as a raw conversion writes them (24 bits, line-doubled where the
// job doubles, first row the bottom one), decoded from the intra picture before each: the
// pictures of `zentrova frames`.
#include <cstdint>
#include <string>
#include <vector>

#include "audio/G726Decoder.h"
#include "convert/FramePipeline.h"
#include "convert/FrameWindow.h"
#include "recording/FrameRecord.h"
#include "recording/ZrReader.h"
#include "video/VideoDecoder.h"

namespace zentrova {

class StillFrames {
 public:
  // Opens a reader of its own; refused with "path: reason".
  Expected<void> Open(const std::string& path, IdctChoice idct);

  // The picture of `window.first`, decoding from `window.decodeFrom` (or on from the frame
  // decoded last, when that lies between the two). Refused when the recording ends before it.
  Expected<void> Picture(const FrameWindow& window, std::vector<uint8_t>& picture);

  int32_t width() const { return info_.width; }
  int32_t outputHeight() const { return outputHeight_; }

 private:
  ZrReader reader_;
  RecordingInfo info_;
  int32_t outputHeight_ = 0;
  uint32_t codecStamp_ = 0;
  IdctChoice idct_ = IdctChoice::Auto;
  VideoDecoder video_;
  G726Decoder audio_;
  FrameRecord record_;
  std::vector<uint8_t> videoData_, audioData_, scratch_;
  FrameWork work_;
  bool referenceGood_ = true;
  bool decodedAny_ = false;
  uint32_t next_ = 0;  // the frame after the one decoded last
};

}  // namespace zentrova
