// The registry of video compressors (avi/Compressor.h), and the stream each one makes. It stands
// above the libav module's loader, which provides every compressor but "raw".
#include "avi/Compressor.h"

#include <algorithm>
#include <cstring>

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

  int SetFormat(int32_t position, const void* format, int32_t size) override {
    return source_->SetFormat(position, format, size);
  }

  int Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags,
            int32_t* samplesWritten, int32_t* bytesWritten) override {
    return source_->Write(start, samples, data, bytes, flags, samplesWritten, bytesWritten);
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

int MakeCompressedStream(std::shared_ptr<OutputStream>& compressed, const std::shared_ptr<OutputStream>& source,
                         const CompressOptions& options) {
  if (!source) return -1;
  const auto* choice = std::find_if(std::begin(kChoices), std::end(kChoices),
                                    [&](const Choice& c) { return options.codec == c.name; });
  if (choice == std::end(kChoices) || !IsAvailable(*choice)) return -1;
  if (!choice->codec.encoder) {
    compressed = std::make_shared<UncompressedStream>(source);
    return 0;
  }
  compressed = MakeLibavStream(choice->codec, source, options.quality, options.threads);
  return compressed ? 0 : -1;
}

}  // namespace zentrova::avi
