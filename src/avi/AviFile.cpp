// The AVI file and stream handles: shared references to one AviWriter, which completes the file
// when the last of them is released, whatever the order of the releases.
#include "avi/AviFile.h"

#include "base/Refusal.h"

namespace zentrova::avi {
namespace {

class WriterStream final : public OutputStream {
 public:
  WriterStream(std::shared_ptr<AviWriter> writer, int index) : writer_(std::move(writer)), index_(index) {}

  // An AVI stream has one format, at its start.
  Expected<void> SetFormat(int32_t position, const void* format, int32_t size) override {
    if (position != 0) return Refusal("an AVI stream takes its format at its start only");
    return writer_->SetFormat(index_, format, size);
  }

  Expected<void> Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags) override {
    return writer_->Write(index_, start, samples, data, bytes, flags);
  }

  StreamInfo Info() const override { return writer_->Info(index_); }

  Expected<void> SetRate(uint32_t rate, uint32_t scale) override { return writer_->SetRate(index_, rate, scale); }

 private:
  std::shared_ptr<AviWriter> writer_;
  int index_;
};

class WriterFile final : public OutputFile {
 public:
  // `output` is the writer's sink when it is a conversion's output, else null; the writer owns
  // it and lives as long as this file.
  WriterFile(std::shared_ptr<AviWriter> writer, OutputSink* output) : writer_(std::move(writer)), output_(output) {}

  Expected<std::shared_ptr<OutputStream>> CreateStream(const StreamInfo& info) override {
    auto index = writer_->AddStream(info);
    if (!index) return index.error();
    return std::make_shared<WriterStream>(writer_, *index);
  }

  Expected<void> SetTags(const FileTags& tags) override { return writer_->SetTags(tags); }

  // The frames count only once they are on the disk: when the sync fails, none of them is known
  // to be safe.
  Completion Complete() override {
    writer_->Finish();
    if (output_ && !output_->Sync()) return {0, writeError()};
    return {writer_->VideoLength(), writeError()};
  }

  int writeError() const override { return output_ ? output_->error() : 0; }

  Expected<void> Keep() override {
    if (!output_) return {};
    writer_->Refresh();  // what appears under the name is a consistent file from the start
    return output_->Keep();
  }

  void Refresh() override { writer_->Refresh(); }

  Expected<bool> KeepAt(const std::string& name) override {
    if (!output_) return Refusal("the file cannot be kept under another name");
    writer_->Refresh();
    return output_->KeepAt(name);
  }

 private:
  std::shared_ptr<AviWriter> writer_;
  OutputSink* output_;
};

}  // namespace

Expected<std::shared_ptr<OutputFile>> OpenAviFile(std::unique_ptr<ByteSink> sink, const WriterLimits& limits) {
  if (!sink) return Failure("nothing to write the file to");
  return std::make_shared<WriterFile>(std::make_shared<AviWriter>(std::move(sink), limits), nullptr);
}

Expected<std::shared_ptr<OutputFile>> OpenAviOutput(const std::string& path, const OutputOptions& options,
                                                 const WriterLimits& limits) {
  auto sink = OpenOutputSink(path, options);
  if (!sink) return sink.error();
  OutputSink* output = sink->get();
  return std::make_shared<WriterFile>(std::make_shared<AviWriter>(std::move(*sink), limits), output);
}

Expected<std::shared_ptr<OutputFile>> OpenAviFile(const std::string& path) {
  auto sink = OpenFileSink(path);
  if (!sink) return sink.error();
  return OpenAviFile(std::move(*sink));
}

}  // namespace zentrova::avi
