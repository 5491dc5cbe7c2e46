// The recording a job reads: opening it and the recordings joined to it with the job's decoders,
// and letting them go when the frames are read.
#include "convert/ConversionJob.h"

#include <cstdio>

#include "audio/G726Decoder.h"
#include "recording/FrameSummary.h"
#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

}  // namespace

Expected<void> ConversionJob::OpenRecording(const std::string& path) {
  if (reader_) return Failure("a conversion is already running");
  reader_ = std::make_unique<ZrReader>();
  reader_->setFileErrorSink(fileErrors_);
  reader_->setCancelFlag(options_.cancel);
  const auto opened = options_.found ? reader_->openFound(path, *options_.found, &recordingInfo_)
                                     : reader_->open(path, &recordingInfo_);
  if (!opened) {
    reader_.reset();
    return Failure(path + ": " + opened.reason());
  }
  frameCount_ = static_cast<uint32_t>(reader_->frameCount());
  recordingFrames_ = frameCount_;
  const int32_t width = recordingInfo_.width;
  const int32_t height = recordingInfo_.height;
  videoFormat_.biWidth = width;
  videoFormat_.biHeight = ComputeOutputHeight(width, height);

  frameBuffer_.assign(static_cast<size_t>(width) * videoFormat_.biHeight * 3, 0);
  // A frame the decoder cannot picture repeats the previous one (black before the first).
  frames_.resize(FramePipeline(3, FramePipeline::ShouldThread(options_.threads)).slotCount());
  for (FrameWork& f : frames_) f.Allocate(width, height);
  videoData_.assign(static_cast<size_t>(width) * height * 2, 0);
  audioData_.assign(kAudioBufferBytes, 0);
  frameRecord_ = std::make_unique<FrameRecord>();
  frameRecord_->videoData = videoData_.data();
  frameRecord_->videoCapacity = static_cast<uint32_t>(videoData_.size());
  frameRecord_->audioData = audioData_.data();
  frameRecord_->audioCapacity = static_cast<uint32_t>(audioData_.size());

  codecStamp_ = GenerationOfVersion(reader_->version());
  videoDecoder_ = std::make_unique<VideoDecoder>();
  if (!videoDecoder_->Initialise(codecStamp_, options_.idct)) {
    videoDecoder_.reset();
    return Failure("the video decoder cannot be prepared for codec generation " + Hex32(codecStamp_));
  }
  audioDecoder_ = std::make_unique<G726Decoder>();
  static_cast<void>(audioDecoder_->Prepare(0));  // a fresh decoder; without memory its sound stays silent
  hasSound_ = RecordingHasSound();
  if (options_.cancel && options_.cancel->load()) return Failure("cancelled while opening", ErrorKind::Cancelled);
  return {};
}

Expected<ZrReader*> ConversionJob::OpenJoined(size_t index) {
  joinedReader_.reset();  // the one before is read to its end
  auto reader = std::make_unique<ZrReader>();
  reader->setFileErrorSink(fileErrors_);
  reader->setCancelFlag(options_.cancel);
  RecordingInfo info;
  if (auto opened = reader->open(options_.joined[index].path, &info); !opened) return opened.error();
  // Pictures of another size or generation would be decoded wrongly by the job's decoders.
  if (info.width != recordingInfo_.width || info.height != recordingInfo_.height ||
      GenerationOfVersion(reader->version()) != codecStamp_) {
    return Failure("its pictures (" + std::to_string(info.width) + " x " + std::to_string(info.height) +
                   ", generation " + Hex32(GenerationOfVersion(reader->version())) +
                   ") are not those of the recordings before it");
  }
  joinedReader_ = std::move(reader);
  return joinedReader_.get();
}

bool ConversionJob::RecordingHasSound() {
  // A recording a scan found has no block index to look through: it keeps its sound stream.
  if (options_.found || reader_->blocks().empty()) return true;
  bool sound = false;
  for (uint32_t b = 0; b < reader_->blocks().size() && !sound; ++b) {
    if (options_.cancel && options_.cancel->load()) break;
    for (const FrameSummary& f : ReadBlockSummaries(*reader_, b))
      if (f.audioBytes > 0) {
        sound = true;
        break;
      }
  }
  reader_->rewind();
  return sound;
}

void ConversionJob::ReleaseDecoding() {
  joinedReader_.reset();
  if (reader_) {
    reader_->close();
    reader_.reset();
  }
  frameBuffer_ = {};
  frames_ = {};
  frameRecord_.reset();
  videoData_ = {};
  audioData_ = {};
  videoDecoder_.reset();
  audioDecoder_.reset();
}

}  // namespace zentrova
