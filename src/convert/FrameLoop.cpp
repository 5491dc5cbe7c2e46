#include "convert/ConversionJob.h"

#include <algorithm>
#include <new>
#include <utility>

#include "audio/G726Decoder.h"
#include "convert/FrameLoopState.h"
#include "convert/FrameSchedule.h"
#include "recording/ClockText.h"
#include "recording/ZrFormat.h"
#include "base/ProcessorFeatures.h"

namespace zentrova {

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
  settings.stamp = codecStamp_;
  settings.idct = options_.idct;
  // The workers' decoders and pictures come out of the same budget as the frames in flight.
  const size_t workersBytes = static_cast<size_t>(workers) * kWorkerBytes;
  const size_t frameBudget = kFramesInFlightBytes > workersBytes ? kFramesInFlightBytes - workersBytes : 0;
  const size_t planeBytes = static_cast<size_t>(settings.width) * static_cast<size_t>(settings.height) * 3 / 2;
  // A 24-bit output the writer only hands on takes its pictures made by the workers, while the
  // planes are still in their cache, when enough of them fit the budget: beside their planes
  // (a frame's worth each) and for at least kLeastPictureWindow frames. Otherwise (pictures
  // for a compressor of planes, or that the writer draws on, or too large) frames wait as the
  // decoder's planes, half the bytes of a 24-bit picture, a quarter of a line-doubled one.
  const size_t pictureBytes = static_cast<size_t>(settings.width) * static_cast<size_t>(videoFormat_.biHeight) * 3;
  const size_t ownPlanes = static_cast<size_t>(workers) * planeBytes;
  const size_t pictureWindow = frameBudget > ownPlanes
                                   ? GroupPipeline::WindowFor(frameBudget - ownPlanes, pictureBytes, workers)
                                   : 0;
  if (!pictureHere_ && !planar_ && pictureWindow >= kLeastPictureWindow) {
    settings.pictureHeight = videoFormat_.biHeight;
    settings.window = pictureWindow;
  } else {
    settings.window = GroupPipeline::WindowFor(frameBudget, planeBytes, workers);
  }
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
  LoopState loop;
  if (!reader_ || !compressedStream_ || (hasSound_ && !audioStream_)) return std::move(loop.result);
  loop.cancel = cancel ? cancel : options_.cancel;
  loop.progress = &progress;
  loop.result.framesDeclared = frameCount_;
  // A window begins at its intra picture, reached through the block index; the pictures up to
  // its first frame are decoded (their sound too, so the sound decoder has adapted as far as it
  // can) and not written. Joined recordings follow, each after the repeats that fill the pause.
  try {
    const uint32_t ownFrames = options_.window ? options_.window->frames() : recordingFrames_;
    loop.reading = ScheduleOfJob(options_.window, ownFrames, options_.joined);
    loop.writing = loop.reading;
    loop.sourcePath = inputPath_;
  } catch (const std::bad_alloc&) {
    loop.outOfMemory = true;  // nothing is read: the file is completed without frames
  }
  loop.source = reader_.get();
  // A compressor that hands its pictures on later asks for the sound held for each just before;
  // what goes wrong there is this loop's to report. The compressor goes before the loop ends.
  if (audioHeld_) {
    const auto held = [this, &loop](int32_t index) { return WriteHeldAudio(loop, index); };
    static_cast<void>(compressedStream_->DeferWrites(held));
  }
  // An AVI output timed by the clock repeats the last picture through each pause of the recorder.
  loop.pauses = PausesToFill();
  keepPictureOf_ = loop.pauses.empty() ? UINT32_MAX : loop.pauses.front().frameAfter - 1;
  try {
    const GroupPipeline::Fetch fetch = [&]() { return FetchFrame(loop); };
    const GroupPipeline::Write write = [&](FrameWork& frame) { return WriteFrame(loop, frame); };
    if (!loop.outOfMemory && !RunGroups(fetch, write)) {
      loop.soundOnRead = planar_ != nullptr || videoFormat_.biHeight != recordingInfo_.height;
      RunInTurn(fetch, write);
    }
  } catch (const std::bad_alloc&) {
    loop.outOfMemory = true;  // reading or decoding ran out: the frames written so far are kept
  }
  FinishReading(loop);
  CompleteOutput(loop);
  ReportLoopEnd(loop);
  // Moved out: a copy would allocate, after the loop has dealt with running out of memory.
  return std::move(loop.result);
}

const FrameRecord* ConversionJob::FetchFrame(LoopState& loop) {
  if (loop.fetched >= frameCount_ || loop.CancelAsked()) return nullptr;
  const std::optional<FrameSchedule::Step> step = loop.reading.Next();
  if (!step) return nullptr;
  if (step->slot == FrameSchedule::Slot::Repeat) {
    // No picture bytes: the frame shows the last picture again, without being damaged.
    FrameRecord& r = *frameRecord_;
    r.flags = 0;
    r.videoBytes = r.videoBytesDeclared = 0;
    r.audioBytes = r.audioBytesDeclared = 0;
    r.cut = r.afterGap = false;
    ++loop.fetched;
    return frameRecord_.get();
  }
  const bool joined = step->part > 0;
  if (step->partBegins && joined) {
    if (auto switched = SwitchToJoined(loop, step->part - 1); !switched) {
      loop.exhausted = switched.reason();
      return nullptr;
    }
  }
  const std::optional<FrameWindow>& window = joined ? options_.joined[step->part - 1].window : options_.window;
  const bool positioned = step->partBegins && window;
  auto got = loop.source->fetchFrame(frameRecord_.get(), positioned ? window->decodeBlock : -1,
                                     positioned ? window->decodeFrameInBlock : 0);
  if (!got) {
    loop.readerEnded = got.kind() == ErrorKind::End;
    loop.exhausted = got.reason();
    return nullptr;
  }
  // The first picture of a joined recording was never coded against the last one before it,
  // and its sound is decoded from the initial state, as its own conversion decodes it.
  if (step->partBegins && joined) {
    frameRecord_->afterGap = true;
    if (loop.soundOnRead) static_cast<void>(audioDecoder_->RestartDecoding());  // without memory: silence
  }
  if (step->slot == FrameSchedule::Slot::PreRoll) return frameRecord_.get();
  ++loop.fetched;
  LoopResult& result = loop.result;
  if (frameRecord_->flags & FlagAudio) result.audioBytesDropped += frameRecord_->audioBytes % 3;
  if (frameRecord_->cut) {
    AddFrame(result.cutFrames, loop.fetched - 1);
    if (loop.cutFrames++ == 0) loop.firstCut = loop.fetched;
  }
  return frameRecord_.get();
}

Expected<void> ConversionJob::SwitchToJoined(LoopState& loop, size_t index) {
  const std::string problem = loop.source->framesBeyondChain() > 0 ? "its block chain ends before all its frames"
                                                                   : loop.source->chainProblem();
  if (!problem.empty()) loop.joinedShort += (loop.joinedShort.empty() ? "" : "; ") + loop.sourcePath + ": " + problem;
  loop.sourcePath = options_.joined[index].path;
  loop.source = nullptr;
  Expected<ZrReader*> opened = OpenJoined(index);
  if (!opened) return opened.error();
  loop.source = *opened;
  return {};
}

bool ConversionJob::WriteFrame(LoopState& loop, FrameWork& frame) {
  LoopResult& result = loop.result;
  if (loop.CancelAsked()) {
    loop.MarkCancelled();
    return false;
  }
  const std::optional<FrameSchedule::Step> step = loop.writing.Next();
  const size_t part = step ? step->part : 0;
  if (step && step->partBegins && part > 0 && !loop.soundOnRead) static_cast<void>(audioDecoder_->RestartDecoding());
  DecodeFrameAudio(frame, *audioDecoder_);
  if (step && step->slot == FrameSchedule::Slot::PreRoll) return true;
  if (step && step->slot == FrameSchedule::Slot::Repeat) {
    // A pause of recordings with sound is silence as long as the repeats last.
    const uint32_t samples = loop.soundSeen ? options_.joined[part - 1].silencePerRepeat / 8 * 8 : 0;
    if (frame.pcm.size() < samples) frame.pcm.resize(samples);
    std::fill(frame.pcm.begin(), frame.pcm.begin() + samples, int16_t{0});
    frame.audioBytes = samples / 8 * 3;
    frame.audioDecoded = true;
    ++result.gapRepeats;
  } else if (frame.audioBytes > 0) {
    loop.soundSeen = true;
  }
  const uint32_t recordingFrame = (options_.window ? options_.window->first : 0) + result.framesWritten;
  if (!FillPause(loop, recordingFrame)) return false;
  // The first write that fails ends the loop: nothing after it could be trusted to land.
  bool wrote = false;
  const auto index = static_cast<int32_t>(loop.pictures);
  try {
    if (audioHeld_) {
      HoldFrameAudio(frame, index);
      wrote = WriteFramePicture(frame, index, recordingFrame);
    } else {
      wrote = WriteFrameAudio(frame).ok() && WriteFramePicture(frame, index, recordingFrame);
    }
  } catch (const std::bad_alloc&) {
    loop.outOfMemory = true;  // the frames before this one are kept
    return false;
  }
  if (!wrote) {
    loop.writeFailed = true;
    return false;
  }
  if (!audioHeld_) {
    if (auto in = FirstFrameIn(); !in) {
      // The frame is written; the output could not take its name, which the end says.
      loop.writeFailed = true;
      loop.writeReason = in.reason();
      return false;
    }
  }
  ++loop.pictures;
  if (frame.black) AddFrame(result.blackFrames, result.framesWritten);
  if (frame.damaged) AddFrame(result.damagedFrames, result.framesWritten);
  ++result.framesWritten;
  if (frame.damaged && result.damagedPictures++ == 0) result.firstDamagedFrame = result.framesWritten;
  if (frame.resized) ++result.resizedPictures;
  if (*loop.progress) (*loop.progress)(result.framesWritten, frameCount_);
  return true;
}

bool ConversionJob::FillPause(LoopState& loop, uint32_t recordingFrame) try {
  if (loop.nextPause >= loop.pauses.size() || loop.pauses[loop.nextPause].frameAfter != recordingFrame) return true;
  const ClockGap& pause = loop.pauses[loop.nextPause++];
  keepPictureOf_ = loop.nextPause < loop.pauses.size() ? loop.pauses[loop.nextPause].frameAfter - 1 : UINT32_MAX;
  LoopResult& result = loop.result;
  if (lastPicture_.empty() || result.framesWritten == 0) return true;
  // As many pictures as the pause lasts at the rate the file plays: the recording's own
  // spacing of frames, or the rate given (--rate).
  const bool ownRate = options_.rate.mode == RateChoice::Mode::Auto || rate_.rate.num == 0;
  const int64_t num = ownRate ? 1 : rate_.rate.num;
  const int64_t den = ownRate ? options_.clock->frameInterval() : int64_t{rate_.rate.den} * 1000;
  const auto count = static_cast<uint32_t>(
      std::clamp<int64_t>((pause.length() * num + den / 2) / den, 1, INT32_MAX - int64_t{loop.pictures} - 1));
  const uint64_t silence = static_cast<uint64_t>(pause.length()) * audioFormat_.nSamplesPerSec / 1000;
  uint32_t written = 0;
  const Expected<void> whole = WriteRepeats(static_cast<int32_t>(loop.pictures), count, silence, loop.cancel, written);
  if (written > 0) result.repeats.push_back({result.framesWritten, written});
  result.repeatedPictures += written;
  loop.pictures += written;
  if (!whole && (whole.kind() == ErrorKind::Cancelled || loop.CancelAsked())) {
    loop.MarkCancelled();
    return false;
  }
  if (!whole) {
    // The end names the file's first failed write, which is what the user can act on.
    loop.writeFailed = true;
    return false;
  }
  loop.pauseLines.push_back("Pause of " + LengthText(pause.length()) + " before frame " +
                            std::to_string(recordingFrame) + " filled with " + std::to_string(count) +
                            " repeats of the last picture, and silence.");
  return true;
} catch (const std::bad_alloc&) {
  loop.outOfMemory = true;
  return false;
}

}  // namespace zentrova
