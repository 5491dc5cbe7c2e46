#include "convert/ConversionJob.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/G726Decoder.h"
#include "recording/ClockText.h"

namespace zentrova {

bool ConversionJob::WriteFrameAudio(const FrameWork& work) { return WriteAudio(work.pcm.data(), work.audioBytes); }

bool ConversionJob::WriteAudio(const int16_t* pcm, uint32_t audioBytes) {
  // The headers said there is no sound; sound that turns up anyway is refused, never dropped.
  if (!audioStream_) return audioBytes == 0;
  // Appended in the pieces the decoder took them in (at most kBufferBytes each).
  constexpr uint32_t kPiece = static_cast<uint32_t>(G726Decoder::kBufferBytes);
  for (uint32_t done = 0; done < audioBytes;) {
    const uint32_t n = std::min(kPiece, audioBytes - done);
    const int32_t samples = static_cast<int32_t>(n / 3 * 8);
    if (!audioStream_->Write(audioPosition_, samples, pcm + done / 3 * 8, samples * 2, 0)) return false;
    audioPosition_ += samples;
    done += n;
  }
  return true;
}

void ConversionJob::HoldFrameAudio(const FrameWork& work, int32_t index) {
  HeldAudio& held = heldAudio_.emplace_back();
  held.frame = index;
  held.audioBytes = work.audioBytes;
  if (!spareAudio_.empty()) {
    held.pcm = std::move(spareAudio_.back());
    spareAudio_.pop_back();
  }
  held.pcm.assign(work.pcm.begin(), work.pcm.begin() + work.audioBytes / 3 * 8);
}

bool ConversionJob::FirstFrameIn() {
  if (firstFrameIn_) return true;
  firstFrameIn_ = true;
  if (replacesExisting_) {
    aviFile_->Refresh();
    return true;
  }
  kept_ = true;
  auto kept = aviFile_->Keep();
  if (!kept) keepReason_ = kept.reason();
  return kept.ok();
}

bool ConversionJob::WriteHeldAudio(int32_t index) try {
  if (index > 0 && !FirstFrameIn()) return false;  // frame 0 is in the file
  for (; heldFirst_ < heldAudio_.size() && heldAudio_[heldFirst_].frame <= index; ++heldFirst_) {
    HeldAudio& held = heldAudio_[heldFirst_];
    if (held.silence > 0 && !WriteSilence(held.silence)) return false;
    if (!WriteAudio(held.pcm.data(), held.audioBytes)) return false;
    spareAudio_.push_back(std::move(held.pcm));
  }
  // What is written goes from the front once it is half the vector.
  if (heldFirst_ > 0 && heldFirst_ * 2 >= heldAudio_.size()) {
    heldAudio_.erase(heldAudio_.begin(), heldAudio_.begin() + static_cast<ptrdiff_t>(heldFirst_));
    heldFirst_ = 0;
  }
  return true;
} catch (const std::bad_alloc&) {
  // Called from within the compressor, which takes it as a refused frame.
  heldOutOfMemory_ = true;
  return false;
}

bool ConversionJob::WriteFramePicture(const FrameWork& work, int32_t index, uint32_t frame) {
  const int32_t width = recordingInfo_.width;
  const int32_t height = recordingInfo_.height;
  const int32_t outputHeight = videoFormat_.biHeight;
  if (pictureHere_) {
    // The picture as converted, then the text over its corner.
    PictureOf(work, width, height, outputHeight, frameBuffer_.data(), scaleScratch_);
    if (overlay_) {
      std::vector<std::string> lines;
      if (!cameraName_.empty()) lines.push_back(cameraName_);
      lines.push_back(ClockCueText(options_.clock->FrameTime(frame), options_.clock->utcOffsetHours()));
      overlay_->Draw(frameBuffer_.data(), width, outputHeight, lines);
    }
    if (frame == keepPictureOf_) lastPicture_ = frameBuffer_;
    return compressedStream_->Write(index, 1, frameBuffer_.data(), static_cast<int32_t>(frameBuffer_.size()),
                                    kKeyFrame).ok();
  }
  if (planar_) {
    return planar_->WritePlanes(index, PlanesOf(work, width, height, outputHeight != height, scaleScratch_),
                                kKeyFrame)
        .ok();
  }
  if (work.coloured && work.pictureBytes == frameBuffer_.size()) {
    // Made beside the decoding: handed on as it is.
    return compressedStream_->Write(index, 1, work.Picture(), static_cast<int32_t>(work.pictureBytes),
                                    kKeyFrame).ok();
  }
  PictureOf(work, width, height, outputHeight, frameBuffer_.data(), scaleScratch_);
  return compressedStream_->Write(index, 1, frameBuffer_.data(), static_cast<int32_t>(frameBuffer_.size()),
                                  kKeyFrame).ok();
}

std::string ConversionJob::WriteFailureReason() const {
  const int err = aviFile_ ? aviFile_->writeError() : 0;
  if (err != 0) return "cannot write " + outputPath_ + ": " + std::strerror(err);
  return "the output refused a frame (" + outputPath_ + " can hold no more)";
}

}  // namespace zentrova
