// The recording's clock in a conversion's output: given to a Matroska or MP4 file (the pictures'
// times, the subtitle track), burnt into the pictures, and the pauses of the recorder filled with
// repeats in an AVI file.
#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>

#include "container/Tags.h"
#include "convert/ConversionJob.h"
#include "convert/JoinedTimeline.h"
#include "recording/ClockText.h"

namespace zentrova {

// A Matroska or MP4 output learns each frame's time from the recordings' clocks, counted from the
// first frame written. Recordings joined keep the pauses between them; inside each, the pictures
// follow its usual spacing unless they are timed by the clock.
void ConversionJob::GiveClock() {
  RecordingClock* clock = options_.clock;
  if (!clock || options_.format == container::Format::Avi) return;
  const bool recorded = options_.timing == OutputTiming::Recorded;
  const bool joined = !options_.joined.empty();
  if (!recorded && !joined && !options_.clockTrack) return;
  const uint32_t frames = options_.window ? options_.window->frames() : recordingFrames_;
  auto timeline =
      std::make_shared<const JoinedTimeline>(JoinedTimeline::OfJob(clock, options_.window, frames, options_.joined));
  OutputClock given;
  if (recorded || joined) {
    const ClockMs base = timeline->FrameTime(0);
    given.recordedMs = [timeline, recorded, base](uint64_t position) {
      return (recorded ? timeline->FrameTime(position) : timeline->EvenFrameTime(position)) - base;
    };
  }
  if (options_.clockTrack) {
    given.cueText = [timeline](uint64_t position) {
      return ClockCueText(timeline->FrameTime(position), timeline->utcOffsetHours());
    };
    given.trackTitle = "Recording time";
  }
  // An AVI file plays at one rate and refuses the clock; its pauses are filled with repeats instead.
  (void)aviFile_->SetClock(given);
}

std::vector<ClockGap> ConversionJob::PausesToFill() {
  if (!options_.clock || options_.timing != OutputTiming::Recorded || options_.format != container::Format::Avi)
    return {};
  const uint32_t first = options_.window ? options_.window->first : 0;
  const uint32_t end = options_.window ? options_.window->end : recordingFrames_;
  std::vector<ClockGap> pauses;
  for (const ClockGap& gap : options_.clock->Gaps())
    if (gap.frameAfter > first && gap.frameAfter < end) pauses.push_back(gap);
  return pauses;
}

Expected<void> ConversionJob::WriteSilence(uint64_t samples) {
  static const int16_t kSilence[4096] = {};
  while (samples > 0) {
    const auto n = static_cast<int32_t>(std::min<uint64_t>(samples, std::size(kSilence)));
    if (auto wrote = audioStream_->Write(audioPosition_, n, kSilence, n * 2, 0); !wrote) return wrote;
    audioPosition_ += n;
    samples -= static_cast<uint64_t>(n);
  }
  return {};
}

Expected<void> ConversionJob::WriteRepeats(int32_t index, uint32_t count, uint64_t silence,
                                           const std::atomic<bool>* cancel, uint32_t& written) {
  written = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return Failure("cancelled", ErrorKind::Cancelled);
    // Each repeat holds its share of the silence, so that sound and pictures stay together.
    const uint64_t share = silence * (i + 1) / count - silence * i / count;
    const int32_t at = index + static_cast<int32_t>(i);
    if (audioHeld_) {
      HeldAudio& held = heldAudio_.emplace_back();
      held.frame = at;
      held.silence = share;
    } else if (auto silent = WriteSilence(share); !silent) {
      return silent;
    }
    if (auto wrote = compressedStream_->Write(at, 1, lastPicture_.data(), static_cast<int32_t>(lastPicture_.size()),
                                              kKeyFrame);
        !wrote)
      return wrote;
    ++written;
  }
  return {};
}

Expected<void> ConversionJob::OpenOverlay() {
  if (!options_.clock) return Failure("--burn-time needs the recording's clock, which could not be read");
  cameraName_ = container::TextToUtf8(reader_->text1(), options_.textEncoding);
  const std::string sample = ClockCueText(options_.clock->start(), options_.clock->utcOffsetHours());
  Expected<std::unique_ptr<TimeOverlay>> overlay =
      TimeOverlay::Open(options_.burnFont.empty() ? TimeOverlay::kDefaultFont : options_.burnFont,
                        videoFormat_.biWidth, videoFormat_.biHeight, std::max(sample.size(), cameraName_.size()));
  if (!overlay) return overlay.error();
  overlay_ = std::move(overlay).value();
  return {};
}

}  // namespace zentrova
