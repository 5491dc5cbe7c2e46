#include "convert/JobOutput.h"

#include <unistd.h>

#include <cerrno>

#include "convert/ConversionJob.h"

namespace zentrova {
namespace {

// Hands a Matroska or MP4 writer's bytes to an output sink that the job's wrapper shares.
class SharedSink final : public avi::ByteSink {
 public:
  explicit SharedSink(std::shared_ptr<avi::OutputSink> sink) : sink_(std::move(sink)) {}
  bool WriteAt(uint64_t offset, std::initializer_list<avi::Piece> pieces) override {
    return sink_->WriteAt(offset, pieces);
  }
  bool Truncate(uint64_t size) override { return sink_->Truncate(size); }

 private:
  std::shared_ptr<avi::OutputSink> sink_;
};

// A Matroska or MP4 file on an output sink, written as the conversion goes. A new file takes its
// name with its first frame, as an AVI file does; one that replaces an existing file only once
// it is complete, so that a file cut short never stands where a whole one was.
class MediaOutput final : public OutputFile {
 public:
  MediaOutput(std::shared_ptr<OutputFile> inner, std::shared_ptr<avi::OutputSink> sink, std::string path,
              bool replaces)
      : inner_(std::move(inner)), sink_(std::move(sink)), path_(std::move(path)), replaces_(replaces) {}

  Expected<std::shared_ptr<OutputStream>> CreateStream(const StreamInfo& info) override {
    if (!inner_) return Refusal("the file is complete");
    return inner_->CreateStream(info);
  }
  Expected<void> SetTags(const FileTags& tags) override {
    if (!inner_) return Refusal("the file is complete");
    return inner_->SetTags(tags);
  }
  Expected<void> SetClock(const OutputClock& clock) override {
    if (!inner_) return Refusal("the file is complete");
    return inner_->SetClock(clock);
  }

  // The streams are released by now: completing the file writes its indexes. A replacement
  // takes its name only when written whole and on the disk; one that failed is removed with
  // none of its frames counted, so an existing file is replaced only by a complete one.
  Completion Complete() override {
    Completion done = inner_ ? inner_->Complete() : Completion{0, EIO};
    inner_.reset();
    completed_ = true;
    const bool whole = done.error == 0 && sink_->error() == 0;
    const bool synced = sink_->Sync();
    if (!whole || !synced) {
      // A new file keeps the frames it holds up to a failed write, once they are on the disk; a
      // replacement that failed is not kept.
      failed_ = true;
      if (replaces_ || !kept_ || !synced) done.videoFrames = 0;
      // A new file that holds no frame (only its header) does not stay at its name.
      if (kept_ && !replaces_ && done.videoFrames == 0) ::unlink(path_.c_str());
      if (done.error != 0 && sink_->error() == 0) firstError_ = done.error;
      done.error = writeError();
      return done;
    }
    if (keepWanted_) {
      if (auto kept = sink_->Keep(); !kept) {
        keepFailed_ = true;
        keepReason_ = kept.reason();
      }
    }
    done.error = writeError();
    return done;
  }
  int writeError() const override {
    if (sink_->error()) return sink_->error();
    if (firstError_) return firstError_;
    return keepFailed_ || failed_ ? EIO : 0;
  }
  Expected<void> Keep() override {
    if (!completed_ && !replaces_) {
      auto kept = sink_->Keep();
      kept_ = kept.ok();
      return kept;
    }
    if (!completed_) {
      keepWanted_ = true;
      return {};
    }
    if (failed_ && kept_) return {};
    if (failed_) return Failure("the file could not be completed");
    if (keepFailed_) return Failure(keepReason_);
    return sink_->Keep();
  }
  Expected<bool> KeepAt(const std::string& name) override {
    if (!completed_ || failed_) return Refusal("the file was not completed");
    return sink_->KeepAt(name);
  }

 private:
  std::shared_ptr<OutputFile> inner_;
  std::shared_ptr<avi::OutputSink> sink_;
  std::string path_;
  bool replaces_;
  bool completed_ = false, keepWanted_ = false, keepFailed_ = false, failed_ = false, kept_ = false;
  int firstError_ = 0;
  std::string keepReason_;  // why the keep that completion did for the job failed
};

}  // namespace

// Opens the output of a job under the rules of avi::OpenOutputSink, in any container.
Expected<std::shared_ptr<OutputFile>> OpenOutput(container::Format format, const std::string& path,
                                                   const avi::OutputOptions& options) {
  if (format == container::Format::Avi) return avi::OpenAviOutput(path, options);
  auto opened = avi::OpenOutputSink(path, options);
  if (!opened) return opened.error();
  std::shared_ptr<avi::OutputSink> sink = std::move(*opened);
  const bool replaces = ConversionJob::WouldReplace(path, options.folder);
  auto inner = container::OpenMediaFile(format, std::make_unique<SharedSink>(sink));
  if (!inner) return inner.error();
  return std::make_shared<MediaOutput>(std::move(*inner), std::move(sink), path, replaces);
}

}  // namespace zentrova
