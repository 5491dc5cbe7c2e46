#include "convert/ConversionJob.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "audio/G726Decoder.h"
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
  // can) and not written.
  const uint32_t preRoll = options_.window ? options_.window->first - options_.window->decodeFrom : 0;
  uint32_t preRollRead = 0, preRollPassed = 0;
  // Why the reader delivered no more frames, when it stopped before the last.
  std::string exhausted;
  bool readerEnded = false;
  auto fetch = [&]() -> const FrameRecord* {
    if (fetched >= frameCount_ || (cancel && cancel->load(std::memory_order_relaxed))) return nullptr;
    const bool positioned = options_.window && fetched == 0 && preRollRead == 0;
    auto got = reader_->fetchFrame(frameRecord_.get(), positioned ? options_.window->decodeBlock : -1,
                                   positioned ? options_.window->decodeFrameInBlock : 0);
    if (!got) {
      readerEnded = got.kind() == ErrorKind::End;
      exhausted = got.reason();
      return nullptr;
    }
    if (preRollRead < preRoll) {
      ++preRollRead;
      return frameRecord_.get();
    }
    ++fetched;
    if (frameRecord_->flags & FlagAudio) result.audioBytesDropped += frameRecord_->audioBytes % 3;
    if (frameRecord_->cut) {
      AddFrame(result.cutFrames, fetched - 1);
      if (cutFrames++ == 0) firstCut = fetched;
    }
    return frameRecord_.get();
  };
  auto write = [&](FrameWork& frame) {
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      result.cancelled = true;
      result.outcome = JobOutcome::Cancelled;
      return false;
    }
    DecodeFrameAudio(frame, *audioDecoder_);
    if (preRollPassed < preRoll) {
      ++preRollPassed;
      return true;
    }
    // The first write that fails ends the loop: nothing after it could be trusted to land.
    bool wrote = false;
    const auto index = static_cast<int32_t>(result.framesWritten);
    try {
      if (audioHeld_) {
        HoldFrameAudio(frame, index);
        wrote = WriteFramePicture(frame, index);
      } else {
        wrote = WriteFrameAudio(frame) && WriteFramePicture(frame, index);
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
    if (frame.black) AddFrame(result.blackFrames, result.framesWritten);
    if (frame.damaged) AddFrame(result.damagedFrames, result.framesWritten);
    ++result.framesWritten;
    if (frame.damaged && result.damagedPictures++ == 0) result.firstDamagedFrame = result.framesWritten;
    if (frame.resized) ++result.resizedPictures;
    if (progress) progress(result.framesWritten, frameCount_);
    return true;
  };
  try {
    if (!RunGroups(fetch, write)) RunInTurn(fetch, write);
  } catch (const std::bad_alloc&) {
    outOfMemory = true;  // reading or decoding ran out: the frames written so far are kept
  }
  // Pictures still being coded go into the file now, with their sound.
  try {
    if (compressedStream_->Flush() != 0) writeFailed = true;
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
  const uint32_t beyondChain = reader_->framesBeyondChain();
  try {
    chainProblem = reader_->chainProblem();
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  }
  const uint32_t total = frameCount_;

  // The rate is set while the streams are held; then the streams go (a compressor hands over
  // what it still holds), and the file is completed and says how many frames it holds: after a
  // full disk, fewer than were written.
  SetFinalRate(result.framesWritten);
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
  result.framesWritten = static_cast<uint32_t>(std::min<uint64_t>(done.videoFrames, result.framesWritten));
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
      result.reason = inputPath_ + ": " + exhausted + " (the blocks declare " + std::to_string(total) + " frames)";
      endLines_.push_back("The recording ended after " + Count(fetched, total) + " frames.");
    } else if (beyondChain > 0) {
      // Frames the chain does not reach are never left out in silence.
      result.outcome = JobOutcome::RecordingShort;
      result.reason = inputPath_ + ": " + (chainProblem.empty() ? "its block chain ends early" : chainProblem) +
                      "; the file holds more frames after it";
      endLines_.push_back("The file holds " + std::to_string(beyondChain) +
                          " more frames after the end of the recording's block chain; --recover converts them.");
    } else if (!chainProblem.empty()) {
      result.outcome = JobOutcome::RecordingShort;
      result.reason = inputPath_ + ": " + chainProblem;
      endLines_.push_back("The recording ended after " + std::to_string(fetched) +
                          " frames; frames may be missing after them.");
    } else if (cutFrames > 0) {
      result.outcome = JobOutcome::RecordingShort;
      result.reason = inputPath_ + ": frame " + std::to_string(firstCut) +
                      (cutFrames > 1 ? " and " + std::to_string(cutFrames - 1) + " more" : std::string()) +
                      " larger than the buffers or cut off by the end of the file";
      endLines_.push_back(Count(cutFrames, total) + " frames were cut short in the recording.");
    }
    // A file completed short of what was written holds only the frames it says.
    result.damagedPictures = std::min(result.damagedPictures, result.framesWritten);
    result.resizedPictures = std::min(result.resizedPictures, result.framesWritten);
    if (result.damagedPictures > 0) {
      // Less serious than a file or recording that ends early: said after it.
      if (result.outcome == JobOutcome::Saved) result.outcome = JobOutcome::RecordingShort;
      const uint32_t more = result.damagedPictures - 1;
      result.reason += (result.reason.empty() ? inputPath_ + ": " : std::string("; ")) + "frame " +
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
void ConversionJob::SetFinalRate(uint32_t framesWritten) {
  if (options_.rate.mode == RateChoice::Mode::Auto) {
    const uint64_t samples = audioPosition_ > 0 ? static_cast<uint64_t>(audioPosition_) : 0;
    rate_ = AutoRate(samples > 0 ? framesWritten : recordingFrames_, samples, startTime_, endTime_);
  }
  if (videoStream_) videoStream_->SetRate(rate_.rate.num, rate_.rate.den);
}

}  // namespace zentrova
