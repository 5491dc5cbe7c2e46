#pragma once
// The video compressors a conversion can choose from, and the compressed stream they make.
#include <memory>
#include <string>
#include <vector>

#include "avi/AviFile.h"

namespace zentrova::avi {

struct CompressorInfo {
  std::string name;         // "raw", "mjpeg", "mpeg4", "h264", "ffv1"
  std::string description;  // "Full Frames (Uncompressed)", ...
  bool available = false;   // whether this machine's libraries provide it
};

struct CompressOptions {
  std::string codec = "mpeg4";
  int quality = 90;  // 0 (smallest) .. 100 (best)
};

// The choice offered by default where the user has not picked one.
inline constexpr const char* kDefaultCodec = "mpeg4";

std::vector<CompressorInfo> ListCompressors();

// Makes a stream that compresses every picture written to it with the chosen compressor and
// hands the result to `source`'s file. 0 on success. The uncompressed video format is given to
// the compressed stream with SetFormat; a compressor that cannot take it refuses there.
int MakeCompressedStream(std::shared_ptr<AviStream>& compressed, const std::shared_ptr<AviStream>& source,
                         const CompressOptions& options);

}  // namespace zentrova::avi
