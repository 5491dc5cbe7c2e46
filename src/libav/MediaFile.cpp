// Matroska and MP4 files through libavformat, behind the AVI file and stream interfaces: the
// job and the compressed streams feed them exactly as they feed the AVI writer (MediaWriter).
#include <memory>

#include "container/ContainerFile.h"
#include "libav/MediaWriter.h"
#include "libav/Module.h"

namespace zentrova::libav {
namespace {

class MediaStream final : public OutputStream {
 public:
  MediaStream(std::shared_ptr<MediaWriter> writer, int index) : writer_(std::move(writer)), index_(index) {}

  Expected<void> SetFormat(int32_t position, const void* format, int32_t size) override {
    if (position != 0) return Refusal("the stream takes its format at its start only");
    return writer_->SetFormat(index_, format, size);
  }

  Expected<void> Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags) override {
    return writer_->Write(index_, start, samples, data, bytes, flags);
  }

  StreamInfo Info() const override { return writer_->Info(index_); }
  Expected<void> SetRate(uint32_t rate, uint32_t scale) override { return writer_->SetRate(index_, rate, scale); }
  bool WantsGlobalHeaders() const override { return true; }

 private:
  std::shared_ptr<MediaWriter> writer_;
  int index_;
};

class MediaFileHandle final : public OutputFile {
 public:
  explicit MediaFileHandle(std::shared_ptr<MediaWriter> writer) : writer_(std::move(writer)) {}

  Expected<std::shared_ptr<OutputStream>> CreateStream(const StreamInfo& info) override {
    auto index = writer_->AddStream(info);
    if (!index) return index.error();
    return std::make_shared<MediaStream>(writer_, *index);
  }

  Expected<void> SetTags(const FileTags& tags) override { return writer_->SetTags(tags); }
  Expected<void> SetClock(const OutputClock& clock) override { return writer_->SetClock(clock); }

  Completion Complete() override { return writer_->Complete(); }

 private:
  std::shared_ptr<MediaWriter> writer_;
};

}  // namespace

Expected<std::shared_ptr<OutputFile>> OpenMediaFile(container::Format format, std::unique_ptr<avi::ByteSink> sink) {
  if (!sink) return Failure("nothing to write the file to");
  if (format == container::Format::Avi) return Failure("AVI files are the AVI writer's");
  return std::make_shared<MediaFileHandle>(std::make_shared<MediaWriter>(format, std::move(sink)));
}

}  // namespace zentrova::libav
