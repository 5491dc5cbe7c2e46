#include "convert/ConversionJob.h"

#include <algorithm>
#include <cstring>

#include "audio/G726Decoder.h"
#include "convert/Messages.h"
#include "container/Tags.h"
#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

ConversionJob::ConversionJob(LogSink log, FileErrorSink fileErrors, JobOptions options, LogSink diagnostics)
    : log_(std::move(log)), fileErrors_(std::move(fileErrors)), diagnostics_(std::move(diagnostics)), options_(options) {}

ConversionJob::~ConversionJob() {
  ReleaseDecoding();
  ReleaseAvi();
}

void ConversionJob::Log(const std::string& line) {
  if (log_) log_(line);
}

uint32_t ConversionJob::ComputeRate(uint32_t frameCount, int32_t startTime, int32_t endTime) {
  return ClassicWholeRate(frameCount, startTime, endTime);
}

int32_t ConversionJob::ComputeOutputHeight(int32_t width, int32_t height) {
  return (width == 640 || width == 704) ? 2 * height : height;
}

void ConversionJob::DoubleLines(const uint8_t* picture, int32_t width, int32_t height, uint8_t* frame) {
  const size_t row = static_cast<size_t>(width) * 3;
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* src = picture + row * r;
    uint8_t* even = frame + row * (2 * r);
    uint8_t* odd = even + row;
    std::memcpy(even, src, row);
    if (r == height - 1) {
      std::memcpy(odd, src, row);  // the last row has no row below it
      continue;
    }
    const uint8_t* below = src + row;
    // Each colour byte is averaged on its own, rounded down.
    for (size_t k = 0; k < row; ++k) odd[k] = static_cast<uint8_t>((src[k] + below[k]) >> 1);
  }
}

ConversionJob::Setup ConversionJob::Convert(const std::string& inputName, const std::string& outputName,
                                            const CompressorChooser& choose) {
  inputPath_ = inputName;
  const std::string output = outputName;
  if (inputPath_.empty()) {
    Log(messages::kNoInputName);
    return Setup::Failed;
  }
  if (output.empty()) {
    Log(messages::kNoOutputName);
    return Setup::Failed;
  }
  // Byte for byte and case-sensitive; "clipavi" passes, "clip.AVI" does not.
  if (options_.format == container::Format::Avi && !EndsWith(output, "avi")) {
    Log(messages::kBadOutputName);
    return Setup::Failed;
  }
  if (!OpenRecording(inputPath_)) {
    ReleaseDecoding();
    Log(messages::kOpenFailed);
    return Setup::Failed;
  }

  auto fail = [this](const char* line) {
    ReleaseDecoding();
    ReleaseAvi();
    Log(line);
    return Setup::Failed;
  };

  std::string reason;
  if (container::OpenOutput(aviFile_, options_.format, output, &reason) != 0) {
    aviFile_.reset();
    if (diagnostics_) diagnostics_("cannot create " + output + ": " + reason);
    return fail(messages::kOpenFailed);
  }

  startTime_ = reader_->startTime();
  endTime_ = reader_->endTime();
  aviFile_->SetTags(container::TagsOfRecording(startTime_, reader_->text1(), reader_->text2(), reader_->text3()));
  // The estimate before any sound is in; the final rate is set when the loop ends.
  rate_ = ChooseRate(options_.rate, frameCount_, 0, startTime_, endTime_);

  streamInfo_ = avi::StreamInfo{};
  streamInfo_.fccType = avi::FourCC('v', 'i', 'd', 's');
  // Compressors take their time base from here; MPEG-4 Part 2 has 16 bits for it.
  const FrameRate estimate = FrameRate::Reduced(rate_.rate.num, rate_.rate.den, 65535);
  streamInfo_.dwScale = estimate.den;
  streamInfo_.dwRate = estimate.num;
  streamInfo_.dwInitialFrames = 1;
  streamInfo_.dwSuggestedBufferSize =
      static_cast<uint32_t>(videoFormat_.biWidth) * static_cast<uint32_t>(videoFormat_.biHeight) * 3;
  streamInfo_.dwSampleSize = 0;
  streamInfo_.rcFrame = {0, 0, videoFormat_.biWidth, videoFormat_.biHeight};
  if (aviFile_->CreateStream(videoStream_, streamInfo_) != 0) return fail(messages::kConvertFailed);

  std::optional<avi::CompressOptions> options = choose ? choose() : std::optional<avi::CompressOptions>{};
  if (!options) {
    ReleaseDecoding();
    ReleaseAvi();
    return Setup::Cancelled;
  }
  if (avi::MakeCompressedStream(compressedStream_, videoStream_, *options) != 0)
    return fail(messages::kConvertFailed);
  if (compressedStream_->SetFormat(0, &videoFormat_, static_cast<int32_t>(videoFormat_.biSize)) != 0)
    return fail(messages::kBadFormat);

  streamInfo_ = avi::StreamInfo{};
  streamInfo_.fccType = avi::FourCC('a', 'u', 'd', 's');
  streamInfo_.dwScale = audioFormat_.nBlockAlign;
  streamInfo_.dwRate = audioFormat_.nAvgBytesPerSec;
  streamInfo_.dwInitialFrames = 1;
  streamInfo_.dwSuggestedBufferSize = 1920;
  streamInfo_.dwSampleSize = audioFormat_.nBlockAlign;
  if (aviFile_->CreateStream(audioStream_, streamInfo_) != 0) return fail(messages::kConvertFailed);
  if (audioStream_->SetFormat(0, &audioFormat_, sizeof audioFormat_) != 0) return fail(messages::kBadFormat);

  audioPosition_ = 0;
  Log(messages::kSaving);
  return Setup::Started;
}

int ConversionJob::OpenRecording(const std::string& path) {
  if (reader_) return 0;
  reader_ = std::make_unique<ZrReader>();
  reader_->setFileErrorSink(fileErrors_);
  if (!reader_->open(path, &recordingInfo_, 0, 1)) {
    if (diagnostics_) diagnostics_(path + ": " + reader_->failureReason());
    reader_.reset();
    return 0;
  }
  frameCount_ = static_cast<uint32_t>(reader_->frameCount());
  const int32_t width = recordingInfo_.width;
  const int32_t height = recordingInfo_.height;
  videoFormat_.biWidth = width;
  videoFormat_.biHeight = ComputeOutputHeight(width, height);

  frameBuffer_.assign(static_cast<size_t>(width) * videoFormat_.biHeight * 3, 0);
  pcmBuffer_.assign(kPcmBufferBytes / sizeof(int16_t), 0);
  // The picture persists from frame to frame: a frame the decoder cannot picture repeats the
  // previous one (black before the first). Pictures that are not line-doubled are decoded
  // straight into the frame buffer.
  if (videoFormat_.biHeight != height) picture_.assign(static_cast<size_t>(width) * height * 3, 0);
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
    return 0;
  }
  audioDecoder_ = std::make_unique<G726Decoder>();
  audioDecoder_->Prepare(0);
  return 1;
}

void ConversionJob::ReleaseDecoding() {
  if (reader_) {
    reader_->close();
    reader_.reset();
  }
  frameBuffer_ = {};
  pcmBuffer_ = {};
  picture_ = {};
  frameRecord_.reset();
  videoData_ = {};
  audioData_ = {};
  videoDecoder_.reset();
  audioDecoder_.reset();
}

void ConversionJob::ReleaseAvi() {
  // Streams first, then the file: the last release completes the file on disk.
  videoStream_.reset();
  compressedStream_.reset();
  audioStream_.reset();
  aviFile_.reset();
}

void ConversionJob::WriteFrameAudio() {
  const FrameRecord& r = *frameRecord_;
  if (!(r.flags & FlagAudio) || r.audioBytes == 0) return;
  // Only whole groups of three bytes carry samples; a trailing partial group is dropped rather
  // than letting stale samples stand in for it. The decoder takes at most kBufferBytes at a
  // time, so a larger frame goes through in pieces, the state running on between them.
  const uint32_t usable = r.audioBytes - r.audioBytes % 3;
  constexpr uint32_t kPiece = static_cast<uint32_t>(G726Decoder::kBufferBytes);
  for (uint32_t done = 0; done < usable;) {
    const uint32_t n = std::min(kPiece, usable - done);
    audioDecoder_->Decode(r.audioData + done, pcmBuffer_.data(), static_cast<int32_t>(n), 0);
    const int32_t samples = static_cast<int32_t>(n / 3 * 8);
    int32_t written = 0;
    if (audioStream_->Write(audioPosition_, samples, pcmBuffer_.data(), samples * 2, 0, &written, nullptr) == 0)
      audioPosition_ += written;
    done += n;
  }
}

void ConversionJob::WriteFramePicture(int32_t index) {
  const int32_t width = recordingInfo_.width;
  const int32_t height = recordingInfo_.height;
  const FrameRecord& r = *frameRecord_;
  std::vector<uint8_t>& picture = picture_.empty() ? frameBuffer_ : picture_;
  if (r.flags & FlagNoPicture) {
    std::fill(picture.begin(), picture.end(), 0);
  } else {
    videoDecoder_->DecodeFrame(r.videoData, r.videoBytes, picture.data(), picture.size(), 0);
  }
  if (!picture_.empty()) DoubleLines(picture_.data(), width, height, frameBuffer_.data());
  compressedStream_->Write(index, 1, frameBuffer_.data(), static_cast<int32_t>(frameBuffer_.size()), avi::kKeyFrame,
                           nullptr, nullptr);
}

ConversionJob::LoopResult ConversionJob::RunFrameLoop(const std::atomic<bool>* cancel, const ProgressSink& progress) {
  LoopResult result;
  if (!reader_ || !compressedStream_ || !audioStream_) return result;
  result.framesDeclared = frameCount_;
  for (uint32_t i = 0; i < frameCount_; ++i) {
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      result.cancelled = true;
      result.outcome = JobOutcome::Cancelled;
      break;
    }
    if (!reader_->fetchFrame(frameRecord_.get(), -1, 0)) break;
    WriteFrameAudio();
    WriteFramePicture(static_cast<int32_t>(i));
    ++result.framesWritten;
    if (progress) progress(result.framesWritten, frameCount_);
  }
  const uint32_t total = frameCount_;
  SetFinalRate(result.framesWritten);
  ReleaseDecoding();
  ReleaseAvi();
  if (result.cancelled)
    Log("Conversion cancelled: " + std::to_string(result.framesWritten) + " of " + std::to_string(total) +
        " frames saved.");
  return result;
}

// With sound the pictures are timed to last as long as the samples written; without it the
// frames the recording declares share its duration.
void ConversionJob::SetFinalRate(uint32_t framesWritten) {
  if (options_.rate.mode == RateChoice::Mode::Auto) {
    const uint64_t samples = audioPosition_ > 0 ? static_cast<uint64_t>(audioPosition_) : 0;
    rate_ = AutoRate(samples > 0 ? framesWritten : frameCount_, samples, startTime_, endTime_);
  }
  if (videoStream_) videoStream_->SetRate(rate_.rate.num, rate_.rate.den);
}

void ConversionJob::Finish() { Log(messages::kSaved); }

bool ConversionJob::Run(const std::string& inputName, const std::string& outputName, const CompressorChooser& choose,
                        const std::atomic<bool>* cancel, const ProgressSink& progress) {
  if (Convert(inputName, outputName, choose) != Setup::Started) return false;
  RunFrameLoop(cancel, progress);
  Finish();
  return true;
}

}  // namespace zentrova
