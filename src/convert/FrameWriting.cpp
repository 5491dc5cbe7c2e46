#include "convert/ConversionJob.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/G726Decoder.h"
#include "convert/FrameLoopState.h"
#include "recording/ClockText.h"

namespace zentrova {

Expected<void> ConversionJob::WriteFrameAudio(const FrameWork& work) {
  return WriteAudio(work.pcm.data(), work.audioBytes);
}

Expected<void> ConversionJob::WriteAudio(const int16_t* pcm, uint32_t audioBytes) {
  // The headers said there is no sound; sound that turns up anyway is refused, never dropped.
  if (!audioStream_) {
    if (audioBytes == 0) return {};
    return Failure("a frame holds sound, though the recording's frame headers said it has none");
  }
  // Appended in the pieces the decoder took them in (at most kBufferBytes each).
  constexpr uint32_t kPiece = static_cast<uint32_t>(G726Decoder::kBufferBytes);
  for (uint32_t done = 0; done < audioBytes;) {
    const uint32_t n = std::min(kPiece, audioBytes - done);
    const int32_t samples = static_cast<int32_t>(n / 3 * 8);
    if (auto wrote = audioStream_->Write(audioPosition_, samples, pcm + done / 3 * 8, samples * 2, 0); !wrote)
      return wrote;
    audioPosition_ += samples;
    done += n;
  }
  return {};
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

Expected<void> ConversionJob::FirstFrameIn() {
  if (firstFrameIn_) return {};
  firstFrameIn_ = true;
  if (replacesExisting_) {
    aviFile_->Refresh();
    return {};
  }
  kept_ = true;
  return aviFile_->Keep();
}

bool ConversionJob::WriteHeldAudio(LoopState& loop, int32_t index) try {
  if (index > 0) {
    // Frame 0 is in the file. The compressor hears only that the write is refused; why goes to
    // the loop, whose end says it.
    if (auto in = FirstFrameIn(); !in) {
      loop.writeReason = in.reason();
      return false;
    }
  }
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
