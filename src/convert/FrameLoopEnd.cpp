// The end of the frame loop: the output completed and kept (or kept beside the file it was to
// replace), and the lines that say what it holds and why it holds less than the recording.
#include "convert/ConversionJob.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "convert/FrameLoopState.h"

namespace zentrova {
namespace {

// The start of the line that says a write failed, by the system's reason.
const char* WriteFailureLead(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT: return "Disk full";
    case EFBIG: return "File size limit reached";
    case EIO: return "Write error";
    default: return "Writing failed";
  }
}

std::string Count(uint32_t n, uint32_t of) { return std::to_string(n) + " of " + std::to_string(of); }

}  // namespace

void ConversionJob::FinishReading(LoopState& loop) {
  // Pictures still being coded go into the file now, with their sound.
  try {
    if (!compressedStream_->Flush()) loop.writeFailed = true;
  } catch (const std::bad_alloc&) {
    loop.outOfMemory = true;
  }
  if (heldOutOfMemory_) loop.outOfMemory = true;
  // A cancel that came while the last frames were being read is a cancel too.
  if (!loop.result.cancelled && loop.result.framesWritten < frameCount_ && loop.CancelAsked()) loop.MarkCancelled();
  loop.beyondChain = loop.source ? loop.source->framesBeyondChain() : 0;
  try {
    loop.chainProblem = loop.source ? loop.source->chainProblem() : std::string();
  } catch (const std::bad_alloc&) {
    loop.outOfMemory = true;
  }
}

void ConversionJob::CompleteOutput(LoopState& loop) {
  LoopResult& result = loop.result;
  // The rate is set while the streams are held; then the streams go (a compressor hands over
  // what it still holds), and the file is completed and says how many frames it holds: after a
  // full disk, fewer than were written.
  SetFinalRate(loop.pictures, result.repeatedPictures);
  ReleaseDecoding();
  videoStream_.reset();
  compressedStream_.reset();
  audioStream_.reset();
  try {
    loop.done = aviFile_->Complete();
  } catch (const std::bad_alloc&) {
    loop.outOfMemory = true;  // the file keeps what its header last said
  }
  if (loop.done.error != 0) loop.writeFailed = true;
  try {
    // A step that knew why the output failed said so; otherwise its first failed write does.
    if (loop.writeReason.empty()) loop.writeReason = WriteFailureReason();
  } catch (const std::bad_alloc&) {
    loop.outOfMemory = true;
  }
  result.framesWritten = static_cast<uint32_t>(std::min<uint64_t>(FramesHeld(loop), result.framesWritten));
  // An existing file is replaced only by a conversion that ended whole (a recording that ends
  // early is whole: all it holds is in). What a cancel or a failure wrote goes beside it.
  loop.whole = !result.cancelled && !loop.writeFailed && !loop.outOfMemory;
  partialPath_.clear();
  if (!kept_ && replacesExisting_ && !loop.whole) {
    kept_ = true;
    try {
      if (result.framesWritten > 0) KeepPartial();
    } catch (const std::bad_alloc&) {
      loop.outOfMemory = true;
    }
  }
  // A job that wrote no frame keeps its file only when it replaces nothing.
  if (!kept_ && (result.framesWritten > 0 || !replacesExisting_)) {
    kept_ = true;
    try {
      if (auto kept = aviFile_->Keep(); !kept) {
        loop.writeFailed = true;
        loop.writeReason = kept.reason();
      }
    } catch (const std::bad_alloc&) {
      loop.outOfMemory = true;
    }
  }
  ReleaseAvi();
}

uint64_t ConversionJob::FramesHeld(const LoopState& loop) {
  // The file's pictures as the recording's frames: the repeats among them are not frames.
  uint64_t held = loop.done.videoFrames;
  if (held == Completion::kUnknown) return held;
  uint64_t repeatsBefore = 0, repeatsHeld = 0;
  for (const PictureRepeat& r : loop.result.repeats) {
    const uint64_t start = r.beforeFrame + repeatsBefore;
    repeatsHeld += held > start ? std::min<uint64_t>(held - start, r.count) : 0;
    repeatsBefore += r.count;
  }
  return held - repeatsHeld;
}

void ConversionJob::ReportLoopEnd(LoopState& loop) try {
  LoopResult& result = loop.result;
  SayWhyShort(loop);
  // A file completed short of what was written holds only the frames it says.
  result.damagedPictures = std::min(result.damagedPictures, result.framesWritten);
  result.resizedPictures = std::min(result.resizedPictures, result.framesWritten);
  if (result.damagedPictures > 0) {
    // Less serious than a file or recording that ends early: said after it.
    if (result.outcome == JobOutcome::Saved) result.outcome = JobOutcome::RecordingShort;
    const uint32_t more = result.damagedPictures - 1;
    result.reason += (result.reason.empty() ? loop.sourcePath + ": " : std::string("; ")) + "frame " +
                     std::to_string(result.firstDamagedFrame) +
                     (more > 0 ? " and " + std::to_string(more) + " more" : std::string()) +
                     " could not be decoded as recorded (broken picture data or a lost reference picture)";
    endLines_.push_back(Count(result.damagedPictures, result.framesWritten) +
                        " pictures were damaged in the recording; each shows the last good picture.");
  }
  if (result.resizedPictures > 0) {
    endLines_.push_back(std::to_string(result.resizedPictures) + " pictures of another size were scaled to " +
                        std::to_string(recordingInfo_.width) + " x " + std::to_string(recordingInfo_.height) + ".");
  }
  constexpr size_t kPauseLines = 10;
  for (size_t i = 0; i < loop.pauseLines.size() && i < kPauseLines; ++i) endLines_.push_back(loop.pauseLines[i]);
  if (loop.pauseLines.size() > kPauseLines)
    endLines_.push_back(std::to_string(loop.pauseLines.size() - kPauseLines) + " more pauses were filled; " +
                        std::to_string(result.repeatedPictures) + " pictures repeat the one before a pause in all.");
  if (replacesExisting_ && (!loop.whole || result.framesWritten == 0))
    result.reason += (result.reason.empty() ? "" : "; ") + outputPath_ + " was left as it was";
  result.partialPath = partialPath_;
  cancelled_ = result.cancelled;
  endReason_ = result.reason;
} catch (const std::bad_alloc&) {
  // The file is complete; only the lines about it are lost.
  if (loop.outOfMemory) loop.result.outcome = JobOutcome::WriteFailed;
}

void ConversionJob::SayWhyShort(LoopState& loop) {
  LoopResult& result = loop.result;
  const uint32_t total = frameCount_;
  const std::string partial = replacesExisting_ ? PartialText() : std::string();
  if (loop.outOfMemory) {
    result.outcome = JobOutcome::WriteFailed;
    result.reason = "out of memory";
    endLines_.push_back("Out of memory: " + Count(result.framesWritten, total) + " frames saved" + partial + ".");
  } else if (loop.writeFailed) {
    result.outcome = JobOutcome::WriteFailed;
    result.reason = loop.writeReason;
    endLines_.push_back(std::string(WriteFailureLead(loop.done.error)) + ": " + Count(result.framesWritten, total) +
                        " frames saved" + partial + ".");
  } else if (result.cancelled) {
    endLines_.push_back("Conversion cancelled: " + Count(result.framesWritten, total) + " frames saved" + partial + ".");
  } else if (loop.fetched < total) {
    result.outcome = JobOutcome::RecordingShort;
    if (loop.readerEnded) loop.exhausted = "the file ends before frame " + std::to_string(loop.fetched + 1);
    result.reason =
        loop.sourcePath + ": " + loop.exhausted + " (the blocks declare " + std::to_string(total) + " frames)";
    endLines_.push_back("The recording ended after " + Count(loop.fetched, total) + " frames.");
  } else if (loop.beyondChain > 0) {
    // Frames the chain does not reach are never left out in silence.
    result.outcome = JobOutcome::RecordingShort;
    result.reason = loop.sourcePath + ": " +
                    (loop.chainProblem.empty() ? "its block chain ends early" : loop.chainProblem) +
                    "; the file holds more frames after it";
    endLines_.push_back("The file holds " + std::to_string(loop.beyondChain) +
                        " more frames after the end of the recording's block chain; --recover converts them.");
  } else if (!loop.chainProblem.empty()) {
    result.outcome = JobOutcome::RecordingShort;
    result.reason = loop.sourcePath + ": " + loop.chainProblem;
    endLines_.push_back("The recording ended after " + std::to_string(loop.fetched) +
                        " frames; frames may be missing after them.");
  } else if (loop.cutFrames > 0) {
    result.outcome = JobOutcome::RecordingShort;
    result.reason = loop.sourcePath + ": frame " + std::to_string(loop.firstCut) +
                    (loop.cutFrames > 1 ? " and " + std::to_string(loop.cutFrames - 1) + " more" : std::string()) +
                    " larger than the buffers or cut off by the end of the file";
    endLines_.push_back(Count(loop.cutFrames, total) + " frames were cut short in the recording.");
  } else if (!loop.joinedShort.empty()) {
    result.outcome = JobOutcome::RecordingShort;
    result.reason = loop.joinedShort;
    endLines_.push_back("A joined recording ended early; frames may be missing after it.");
  }
}

void ConversionJob::SetFinalRate(uint32_t pictures, uint32_t repeats) {
  if (options_.rate.mode == RateChoice::Mode::Auto) {
    const uint64_t samples = audioPosition_ > 0 ? static_cast<uint64_t>(audioPosition_) : 0;
    rate_ = AutoRate(samples > 0 ? pictures : recordingFrames_ + repeats, samples, startTime_, endTime_);
  }
  // A stream that cannot take the final rate keeps the estimate it was created with; every
  // picture is in it either way.
  if (videoStream_) (void)videoStream_->SetRate(rate_.rate.num, rate_.rate.den);
}

}  // namespace zentrova
