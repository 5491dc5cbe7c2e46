#include "convert/ConversionJob.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "audio/G726Decoder.h"
#include "convert/FrameSchedule.h"
#include "recording/ClockText.h"
#include "recording/ZrFormat.h"
#include "video/ProcessorFeatures.h"

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

void AddFrame(FrameSpans& runs, uint32_t index) {
  if (!runs.empty() && runs.back().last + 1 == index) {
    runs.back().last = index;
    return;
  }
  runs.push_back({index, index});
}

unsigned ConversionJob::DecodingWorkers() const {
  // Past a few workers the frames in flight, not the cores, decide how many groups are decoded
  // at once; more workers would only take the frames' memory.
  return std::min(kMostWorkers, options_.threads != 0 ? options_.threads : UsableCores());
}

bool ConversionJob::RunGroups(const GroupPipeline::Fetch& fetch, const GroupPipeline::Write& write) {
  const unsigned workers = DecodingWorkers();
  if (workers < 2) return false;
  GroupPipelineSettings settings;
  settings.workers = workers;
  settings.width = recordingInfo_.width;
  settings.height = recordingInfo_.height;
  settings.outputHeight = videoFormat_.biHeight;
  settings.stamp = codecStamp_;
  settings.idct = options_.idct;
  // A compressor that takes planes gets them; every other output takes the 24-bit frame, which
  // is then made by the workers too.
  settings.convert = planar_ == nullptr;
  const size_t frameBytes = static_cast<size_t>(settings.width) *
                            static_cast<size_t>(settings.convert ? settings.outputHeight * 3 : settings.height * 3 / 2);
  // The workers' decoders and pictures come out of the same budget as the frames in flight.
  const size_t workersBytes = static_cast<size_t>(workers) * kWorkerBytes;
  const size_t frameBudget = kFramesInFlightBytes > workersBytes ? kFramesInFlightBytes - workersBytes : 0;
  settings.window = GroupPipeline::WindowFor(frameBudget, frameBytes, workers);
  settings.readAheadBytes = kReadAheadBytes;
  return GroupPipeline(settings).Run(fetch, *audioDecoder_, write);
}

void ConversionJob::RunInTurn(const GroupPipeline::Fetch& fetch, const GroupPipeline::Write& write) {
  // Reading and decoding run ahead of compressing and writing, on a thread of their own when
  // the job may use two; the frames are written in order either way.
  FramePipeline pipeline(frames_.size(), frames_.size() > 1);
  const FrameWork* previous = nullptr;
  bool referenceGood = true;  // the decoder's state before any picture is a defined one
  auto produce = [&](size_t slot) {
    const FrameRecord* record = fetch();
    if (!record) return false;
    // Sound is decoded where there is time for it: with the pictures, unless the writing side
    // only converts pictures of the recording's own size to 24 bits (then it is the lighter one).
    const bool lightWriter = !planar_ && videoFormat_.biHeight == recordingInfo_.height;
    DecodeFrameWork(*record, *videoDecoder_, *audioDecoder_, !lightWriter, recordingInfo_.width,
                    recordingInfo_.height, previous, referenceGood, frames_[slot]);
    previous = &frames_[slot];
    return true;
  };
  pipeline.Run(produce, [&](size_t slot) { return write(frames_[slot]); });
}

ConversionJob::LoopResult ConversionJob::RunFrameLoop(const std::atomic<bool>* cancel, const ProgressSink& progress) {
  LoopResult result;
  if (!reader_ || !compressedStream_ || (hasSound_ && !audioStream_)) return result;
  if (!cancel) cancel = options_.cancel;
  result.framesDeclared = frameCount_;
  uint32_t cutFrames = 0, firstCut = 0;
  bool writeFailed = false, outOfMemory = false;
  keepReason_.clear();
  uint32_t fetched = 0;
  // A window begins at its intra picture, reached through the block index; the pictures up to
  // its first frame are decoded (their sound too, so the sound decoder has adapted as far as it
  // can) and not written. Joined recordings follow, each after the repeats that fill the pause.
  FrameSchedule reading, writing;
  std::string sourcePath;
  try {
    const uint32_t ownFrames = options_.window ? options_.window->frames() : recordingFrames_;
    reading = ScheduleOfJob(options_.window, ownFrames, options_.joined);
    writing = reading;
    sourcePath = inputPath_;
  } catch (const std::bad_alloc&) {
    outOfMemory = true;  // nothing is read: the file is completed without frames
  }
  // Which side decodes the sound: the reading one (groups decoded side by side, or a writer with
  // more to do than decoding it), or the writing one. A joined recording's sound starts afresh there.
  bool soundOnRead = true;
  ZrReader* source = reader_.get();
  std::string joinedShort;  // what earlier joined recordings lacked, said once the loop ends
  joinProblem_.clear();
  // An AVI output timed by the clock repeats the last picture through each pause of the recorder.
  const std::vector<ClockGap> pauses = PausesToFill();
  size_t nextPause = 0;
  keepPictureOf_ = pauses.empty() ? UINT32_MAX : pauses.front().frameAfter - 1;
  uint32_t pictures = 0;  // in the file, repeats included
  std::vector<std::string> pauseLines;
  // Why the reader delivered no more frames, when it stopped before the last.
  std::string exhausted;
  bool readerEnded = false;
  auto fetch = [&]() -> const FrameRecord* {
    if (fetched >= frameCount_ || (cancel && cancel->load(std::memory_order_relaxed))) return nullptr;
    const std::optional<FrameSchedule::Step> step = reading.Next();
    if (!step) return nullptr;
    if (step->slot == FrameSchedule::Slot::Repeat) {
      // No picture bytes: the frame shows the last picture again, without being damaged.
      FrameRecord& r = *frameRecord_;
      r.flags = 0;
      r.videoBytes = r.videoBytesDeclared = 0;
      r.audioBytes = r.audioBytesDeclared = 0;
      r.cut = r.afterGap = false;
      ++fetched;
      return frameRecord_.get();
    }
    const bool joined = step->part > 0;
    if (step->partBegins && joined) {
      const std::string problem = source->framesBeyondChain() > 0 ? "its block chain ends before all its frames"
                                                                  : source->chainProblem();
      if (!problem.empty()) joinedShort += (joinedShort.empty() ? "" : "; ") + sourcePath + ": " + problem;
      sourcePath = options_.joined[step->part - 1].path;
      source = OpenJoined(step->part - 1);
      if (!source) {
        exhausted = joinProblem_;
        return nullptr;
      }
    }
    const std::optional<FrameWindow>& window = joined ? options_.joined[step->part - 1].window : options_.window;
    const bool positioned = step->partBegins && window;
    auto got = source->fetchFrame(frameRecord_.get(), positioned ? window->decodeBlock : -1,
                                  positioned ? window->decodeFrameInBlock : 0);
    if (!got) {
      readerEnded = got.kind() == ErrorKind::End;
      exhausted = got.reason();
      return nullptr;
    }
    // The first picture of a joined recording was never coded against the last one before it,
    // and its sound is decoded from the initial state, as its own conversion decodes it.
    if (step->partBegins && joined) {
      frameRecord_->afterGap = true;
      if (soundOnRead) static_cast<void>(audioDecoder_->RestartDecoding());  // without memory: silence
    }
    if (step->slot == FrameSchedule::Slot::PreRoll) return frameRecord_.get();
    ++fetched;
    if (frameRecord_->flags & FlagAudio) result.audioBytesDropped += frameRecord_->audioBytes % 3;
    if (frameRecord_->cut) {
      AddFrame(result.cutFrames, fetched - 1);
      if (cutFrames++ == 0) firstCut = fetched;
    }
    return frameRecord_.get();
  };
  bool soundSeen = false;
  auto write = [&](FrameWork& frame) {
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      result.cancelled = true;
      result.outcome = JobOutcome::Cancelled;
      return false;
    }
    const std::optional<FrameSchedule::Step> step = writing.Next();
    const size_t part = step ? step->part : 0;
    if (step && step->partBegins && part > 0 && !soundOnRead) static_cast<void>(audioDecoder_->RestartDecoding());
    DecodeFrameAudio(frame, *audioDecoder_);
    if (step && step->slot == FrameSchedule::Slot::PreRoll) return true;
    if (step && step->slot == FrameSchedule::Slot::Repeat) {
      // A pause of recordings with sound is silence as long as the repeats last.
      const uint32_t samples = soundSeen ? options_.joined[part - 1].silencePerRepeat / 8 * 8 : 0;
      if (frame.pcm.size() < samples) frame.pcm.resize(samples);
      std::fill(frame.pcm.begin(), frame.pcm.begin() + samples, int16_t{0});
      frame.audioBytes = samples / 8 * 3;
      frame.audioDecoded = true;
      ++result.gapRepeats;
    } else if (frame.audioBytes > 0) {
      soundSeen = true;
    }
    // The first write that fails ends the loop: nothing after it could be trusted to land.
    bool wrote = false;
    const uint32_t recordingFrame = (options_.window ? options_.window->first : 0) + result.framesWritten;
    try {
      if (nextPause < pauses.size() && pauses[nextPause].frameAfter == recordingFrame) {
        const ClockGap& pause = pauses[nextPause++];
        keepPictureOf_ = nextPause < pauses.size() ? pauses[nextPause].frameAfter - 1 : UINT32_MAX;
        // As many pictures as the pause lasts at the rate the file plays: the recording's own
        // spacing of frames, or the rate given (--rate).
        const bool ownRate = options_.rate.mode == RateChoice::Mode::Auto || rate_.rate.num == 0;
        const int64_t num = ownRate ? 1 : rate_.rate.num;
        const int64_t den = ownRate ? options_.clock->frameInterval() : int64_t{rate_.rate.den} * 1000;
        const auto count = static_cast<uint32_t>(
            std::clamp<int64_t>((pause.length() * num + den / 2) / den, 1, INT32_MAX - int64_t{pictures} - 1));
        if (!lastPicture_.empty() && result.framesWritten > 0) {
          const uint64_t silence = static_cast<uint64_t>(pause.length()) * audioFormat_.nSamplesPerSec / 1000;
          uint32_t written = 0;
          const bool whole = WriteRepeats(static_cast<int32_t>(pictures), count, silence, cancel, written);
          if (written > 0) result.repeats.push_back({result.framesWritten, written});
          result.repeatedPictures += written;
          pictures += written;
          if (!whole && cancel && cancel->load(std::memory_order_relaxed)) {
            result.cancelled = true;
            result.outcome = JobOutcome::Cancelled;
            return false;
          }
          if (!whole) {
            writeFailed = true;
            return false;
          }
          pauseLines.push_back("Pause of " + LengthText(pause.length()) + " before frame " +
                               std::to_string(recordingFrame) + " filled with " + std::to_string(count) +
                               " repeats of the last picture, and silence.");
        }
      }
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
      return false;
    }
    const auto index = static_cast<int32_t>(pictures);
    try {
      if (audioHeld_) {
        HoldFrameAudio(frame, index);
        wrote = WriteFramePicture(frame, index, recordingFrame);
      } else {
        wrote = WriteFrameAudio(frame) && WriteFramePicture(frame, index, recordingFrame);
      }
    } catch (const std::bad_alloc&) {
      outOfMemory = true;  // the frames before this one are kept
      return false;
    }
    if (!wrote) {
      writeFailed = true;
      return false;
    }
    if (!audioHeld_ && !FirstFrameIn()) {
      writeFailed = true;
      return false;
    }
    ++pictures;
    if (frame.black) AddFrame(result.blackFrames, result.framesWritten);
    if (frame.damaged) AddFrame(result.damagedFrames, result.framesWritten);
    ++result.framesWritten;
    if (frame.damaged && result.damagedPictures++ == 0) result.firstDamagedFrame = result.framesWritten;
    if (frame.resized) ++result.resizedPictures;
    if (progress) progress(result.framesWritten, frameCount_);
    return true;
  };
  try {
    if (!outOfMemory && !RunGroups(fetch, write)) {
      soundOnRead = planar_ != nullptr || videoFormat_.biHeight != recordingInfo_.height;
      RunInTurn(fetch, write);
    }
  } catch (const std::bad_alloc&) {
    outOfMemory = true;  // reading or decoding ran out: the frames written so far are kept
  }
  // Pictures still being coded go into the file now, with their sound.
  try {
    if (!compressedStream_->Flush()) writeFailed = true;
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  }
  if (heldOutOfMemory_) outOfMemory = true;
  // A cancel that came while the last frames were being read is a cancel too.
  if (!result.cancelled && result.framesWritten < frameCount_ && cancel && cancel->load(std::memory_order_relaxed)) {
    result.cancelled = true;
    result.outcome = JobOutcome::Cancelled;
  }
  std::string chainProblem;
  const uint32_t beyondChain = source ? source->framesBeyondChain() : 0;
  try {
    chainProblem = source ? source->chainProblem() : std::string();
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  }
  const uint32_t total = frameCount_;

  // The rate is set while the streams are held; then the streams go (a compressor hands over
  // what it still holds), and the file is completed and says how many frames it holds: after a
  // full disk, fewer than were written.
  SetFinalRate(pictures, result.repeatedPictures);
  ReleaseDecoding();
  videoStream_.reset();
  compressedStream_.reset();
  audioStream_.reset();
  avi::Completion done;
  try {
    done = aviFile_->Complete();
  } catch (const std::bad_alloc&) {
    outOfMemory = true;  // the file keeps what its header last said
  }
  if (done.error != 0) writeFailed = true;
  std::string writeReason;
  try {
    writeReason = keepReason_.empty() ? WriteFailureReason() : keepReason_;
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  }
  // The file's pictures as the recording's frames: the repeats among them are not frames.
  uint64_t held = done.videoFrames;
  if (held != avi::Completion::kUnknown) {
    uint64_t repeatsBefore = 0, repeatsHeld = 0;
    for (const PictureRepeat& r : result.repeats) {
      const uint64_t start = r.beforeFrame + repeatsBefore;
      repeatsHeld += held > start ? std::min<uint64_t>(held - start, r.count) : 0;
      repeatsBefore += r.count;
    }
    held -= repeatsHeld;
  }
  result.framesWritten = static_cast<uint32_t>(std::min<uint64_t>(held, result.framesWritten));
  // An existing file is replaced only by a conversion that ended whole (a recording that ends
  // early is whole: all it holds is in). What a cancel or a failure wrote goes beside it.
  const bool whole = !result.cancelled && !writeFailed && !outOfMemory;
  partialPath_.clear();
  if (!kept_ && replacesExisting_ && !whole) {
    kept_ = true;
    try {
      if (result.framesWritten > 0) KeepPartial();
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    }
  }
  // A job that wrote no frame keeps its file only when it replaces nothing.
  if (!kept_ && (result.framesWritten > 0 || !replacesExisting_)) {
    kept_ = true;
    try {
      if (auto kept = aviFile_->Keep(); !kept) {
        keepReason_ = kept.reason();
        writeFailed = true;
        writeReason = keepReason_;
      }
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    }
  }
  ReleaseAvi();

  try {
    if (outOfMemory) {
      result.outcome = JobOutcome::WriteFailed;
      result.reason = "out of memory";
      endLines_.push_back("Out of memory: " + Count(result.framesWritten, total) + " frames saved" +
                          (replacesExisting_ ? PartialText() : std::string()) + ".");
    } else if (writeFailed) {
      result.outcome = JobOutcome::WriteFailed;
      result.reason = writeReason;
      endLines_.push_back(std::string(WriteFailureLead(done.error)) + ": " + Count(result.framesWritten, total) +
                          " frames saved" + (replacesExisting_ ? PartialText() : std::string()) + ".");
    } else if (result.cancelled) {
      endLines_.push_back("Conversion cancelled: " + Count(result.framesWritten, total) + " frames saved" +
                          (replacesExisting_ ? PartialText() : std::string()) + ".");
    } else if (fetched < total) {
      result.outcome = JobOutcome::RecordingShort;
      if (readerEnded) exhausted = "the file ends before frame " + std::to_string(fetched + 1);
      result.reason = sourcePath + ": " + exhausted + " (the blocks declare " + std::to_string(total) + " frames)";
      endLines_.push_back("The recording ended after " + Count(fetched, total) + " frames.");
    } else if (beyondChain > 0) {
      // Frames the chain does not reach are never left out in silence.
      result.outcome = JobOutcome::RecordingShort;
      result.reason = sourcePath + ": " + (chainProblem.empty() ? "its block chain ends early" : chainProblem) +
                      "; the file holds more frames after it";
      endLines_.push_back("The file holds " + std::to_string(beyondChain) +
                          " more frames after the end of the recording's block chain; --recover converts them.");
    } else if (!chainProblem.empty()) {
      result.outcome = JobOutcome::RecordingShort;
      result.reason = sourcePath + ": " + chainProblem;
      endLines_.push_back("The recording ended after " + std::to_string(fetched) +
                          " frames; frames may be missing after them.");
    } else if (cutFrames > 0) {
      result.outcome = JobOutcome::RecordingShort;
      result.reason = sourcePath + ": frame " + std::to_string(firstCut) +
                      (cutFrames > 1 ? " and " + std::to_string(cutFrames - 1) + " more" : std::string()) +
                      " larger than the buffers or cut off by the end of the file";
      endLines_.push_back(Count(cutFrames, total) + " frames were cut short in the recording.");
    } else if (!joinedShort.empty()) {
      result.outcome = JobOutcome::RecordingShort;
      result.reason = joinedShort;
      endLines_.push_back("A joined recording ended early; frames may be missing after it.");
    }
    // A file completed short of what was written holds only the frames it says.
    result.damagedPictures = std::min(result.damagedPictures, result.framesWritten);
    result.resizedPictures = std::min(result.resizedPictures, result.framesWritten);
    if (result.damagedPictures > 0) {
      // Less serious than a file or recording that ends early: said after it.
      if (result.outcome == JobOutcome::Saved) result.outcome = JobOutcome::RecordingShort;
      const uint32_t more = result.damagedPictures - 1;
      result.reason += (result.reason.empty() ? sourcePath + ": " : std::string("; ")) + "frame " +
                       std::to_string(result.firstDamagedFrame) +
                       (more > 0 ? " and " + std::to_string(more) + " more" : std::string()) +
                       " could not be decoded as recorded (broken picture data or a lost reference picture)";
      endLines_.push_back(Count(result.damagedPictures, result.framesWritten) +
                          " pictures were damaged in the recording; each shows the last good picture.");
    }
    if (result.resizedPictures > 0) {
      endLines_.push_back(std::to_string(result.resizedPictures) + " pictures of another size were scaled to " +
                          std::to_string(recordingInfo_.width) + " x " + std::to_string(recordingInfo_.height) +
                          ".");
    }
    constexpr size_t kPauseLines = 10;
    for (size_t i = 0; i < pauseLines.size() && i < kPauseLines; ++i) endLines_.push_back(pauseLines[i]);
    if (pauseLines.size() > kPauseLines)
      endLines_.push_back(std::to_string(pauseLines.size() - kPauseLines) + " more pauses were filled; " +
                          std::to_string(result.repeatedPictures) + " pictures repeat the one before a pause in all.");
    if (replacesExisting_ && (!whole || result.framesWritten == 0))
      result.reason += (result.reason.empty() ? "" : "; ") + outputPath_ + " was left as it was";
    result.partialPath = partialPath_;
    cancelled_ = result.cancelled;
    endReason_ = result.reason;
  } catch (const std::bad_alloc&) {
    // The file is complete; only the lines about it are lost.
    if (outOfMemory) result.outcome = JobOutcome::WriteFailed;
  }
  return result;
}

// With sound the pictures are timed to last as long as the samples written; without it the
// frames the recording declares share its duration.
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
