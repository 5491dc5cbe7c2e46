// The registry of video compressors (avi/Compressor.h), and the stream each one makes. It stands
// above the libav module's loader, which provides every compressor but "raw".
#include "avi/Compressor.h"

#include <algorithm>
#include <cstring>

#include "base/Refusal.h"
#include "libav/LibavCompressor.h"

namespace zentrova::avi {
namespace {

struct Choice {
  const char* name;
  const char* description;
  LibavCodec codec;  // encoder null: stored as handed over
};

// The compressors offered, in the order they are listed. MPEG-4 Part 2 goes out as XVID, the
// FourCC that standalone players, TVs and the built-in decoders of desktop systems know best.
const Choice kChoices[] = {
    {"raw", "Full Frames (Uncompressed)", {nullptr, 0}},
    {"mjpeg", "Motion JPEG", {"mjpeg", FourCC('M', 'J', 'P', 'G')}},
    {"mpeg4", "MPEG-4 Part 2 (XVID)", {"mpeg4", FourCC('X', 'V', 'I', 'D')}},
    {"h264", "H.264 (libx264)", {"libx264", FourCC('H', '2', '6', '4')}},
    {"ffv1", "FFV1 (lossless)", {"ffv1", FourCC('F', 'F', 'V', '1')}},
};

bool IsAvailable(const Choice& c) { return !c.codec.encoder || LibavEncoderAvailable(c.codec.encoder); }

// "Full Frames (Uncompressed)": the pictures and their format go to the file as handed over.
class UncompressedStream final : public OutputStream {
 public:
  explicit UncompressedStream(std::shared_ptr<OutputStream> source) : source_(std::move(source)) {}

  Expected<void> SetFormat(int32_t position, const void* format, int32_t size) override {
    return source_->SetFormat(position, format, size);
  }

  Expected<void> Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags) override {
    return source_->Write(start, samples, data, bytes, flags);
  }

  StreamInfo Info() const override { return source_->Info(); }

 private:
  std::shared_ptr<OutputStream> source_;
};

}  // namespace

std::vector<CompressorInfo> ListCompressors() {
  std::vector<CompressorInfo> list;
  for (const Choice& c : kChoices) list.push_back({c.name, c.description, IsAvailable(c)});
  return list;
}

std::vector<std::string> CompressorNames() {
  std::vector<std::string> names;
  for (const Choice& c : kChoices) names.push_back(c.name);
  return names;
}

Expected<std::shared_ptr<OutputStream>> MakeCompressedStream(const std::shared_ptr<OutputStream>& source,
                                                             const CompressOptions& options) {
  if (!source) return Refusal("no stream to compress into");
  const auto* choice = std::find_if(std::begin(kChoices), std::end(kChoices),
                                    [&](const Choice& c) { return options.codec == c.name; });
  if (choice == std::end(kChoices)) return Refusal("no such compressor");
  if (!IsAvailable(*choice)) return Refusal("this machine's libraries do not provide the compressor");
  if (!choice->codec.encoder) return std::make_shared<UncompressedStream>(source);
  Expected<std::shared_ptr<OutputStream>> compressed =
      MakeLibavStream(choice->codec, source, options.quality, options.threads);
  if (!compressed) return Refusal("the compressor could not be started");
  return compressed;
}

}  // namespace zentrova::avi
