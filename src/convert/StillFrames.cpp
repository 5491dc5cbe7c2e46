#include "convert/StillFrames.h"

#include "convert/ConversionJob.h"
#include "recording/ZrFormat.h"

namespace zentrova {

Expected<void> StillFrames::Open(const std::string& path, IdctChoice idct) {
  if (auto opened = reader_.open(path, &info_); !opened) return Failure(path + ": " + opened.reason());
  outputHeight_ = ConversionJob::ComputeOutputHeight(info_.width, info_.height);
  codecStamp_ = GenerationOfVersion(reader_.version());
  idct_ = idct;
  videoData_.assign(static_cast<size_t>(info_.width) * info_.height * 2, 0);
  audioData_.assign(ConversionJob::kAudioBufferBytes, 0);
  record_.videoData = videoData_.data();
  record_.videoCapacity = static_cast<uint32_t>(videoData_.size());
  record_.audioData = audioData_.data();
  record_.audioCapacity = static_cast<uint32_t>(audioData_.size());
  work_.Allocate(info_.width, info_.height);
  static_cast<void>(audio_.Prepare(0));  // a fresh decoder; without memory its sound stays silent
  return {};
}

Expected<void> StillFrames::Picture(const FrameWindow& window, std::vector<uint8_t>& picture) {
  auto fail = [&](const std::string& why) -> Expected<void> {
    decodedAny_ = false;
    return Failure(why);
  };
  const uint32_t frame = window.first;
  uint32_t at = 0;
  const FrameWork* previous = &work_;
  if (decodedAny_ && next_ > window.decodeFrom && next_ <= frame) {
    if (!reader_.fetchFrame(&record_, -1, 0)) return fail("the recording ends before frame " + std::to_string(frame));
    at = next_;
  } else {
    // A fresh decoder, as a conversion starts with one: what it shows before an intra picture is
    // what a whole conversion shows there.
    if (!video_.Initialise(codecStamp_, idct_)) return fail("the video decoder cannot be prepared");
    referenceGood_ = true;
    previous = nullptr;
    if (!reader_.fetchFrame(&record_, window.decodeBlock, window.decodeFrameInBlock))
      return fail("the recording ends before frame " + std::to_string(window.decodeFrom));
    at = window.decodeFrom;
  }
  for (;;) {
    DecodeFrameWork(record_, video_, audio_, false, info_.width, info_.height, previous, referenceGood_, work_);
    previous = &work_;
    decodedAny_ = true;
    next_ = at + 1;
    if (at == frame) break;
    if (!reader_.fetchFrame(&record_, -1, 0)) return fail("the recording ends before frame " + std::to_string(frame));
    ++at;
  }
  picture.resize(static_cast<size_t>(info_.width) * outputHeight_ * 3);
  PictureOf(work_, info_.width, info_.height, outputHeight_, picture.data(), scratch_);
  return {};
}

}  // namespace zentrova
