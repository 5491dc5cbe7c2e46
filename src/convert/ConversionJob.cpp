#include "convert/ConversionJob.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "audio/G726Decoder.h"
#include "avi/LibavCompressor.h"
#include "container/ContainerFile.h"
#include "convert/Messages.h"
#include "container/Tags.h"
#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// Why MakeCompressedStream refused `codec`: unknown, or not provided by this machine's libraries.
std::string CompressorRefusal(const std::string& codec) {
  const std::vector<avi::CompressorInfo> all = avi::ListCompressors();
  std::string known, available;
  bool found = false, usable = false;
  for (const avi::CompressorInfo& c : all) {
    known += (known.empty() ? "" : ", ") + c.name;
    if (c.available) available += (available.empty() ? "" : ", ") + c.name;
    if (c.name == codec) {
      found = true;
      usable = c.available;
    }
  }
  if (!found) return "unknown video compressor \"" + codec + "\"; the known ones are " + known;
  if (!usable) {
    const std::string problem = avi::LibavProblem();
    if (!problem.empty()) return "the " + codec + " compressor could not be loaded: " + problem;
    return "the " + codec + " compressor is not available on this machine; available: " + available;
  }
  return "the " + codec + " compressor could not be prepared";
}

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

// Hands a Matroska or MP4 writer's bytes to an output sink that the job's wrapper shares.
class SharedSink final : public avi::ByteSink {
 public:
  explicit SharedSink(std::shared_ptr<avi::OutputSink> sink) : sink_(std::move(sink)) {}
  bool WriteAt(uint64_t offset, std::initializer_list<avi::Piece> pieces) override {
    return sink_->WriteAt(offset, pieces);
  }
  bool Truncate(uint64_t size) override { return sink_->Truncate(size); }

 private:
  std::shared_ptr<avi::OutputSink> sink_;
};

// A Matroska or MP4 file on an output sink. Such a file is written in one go when it completes,
// so it takes its name (replacing an existing file) only then, never while it is still empty.
class MediaOutput final : public avi::AviFile {
 public:
  MediaOutput(std::shared_ptr<avi::AviFile> inner, std::shared_ptr<avi::OutputSink> sink)
      : inner_(std::move(inner)), sink_(std::move(sink)) {}

  int CreateStream(std::shared_ptr<avi::AviStream>& stream, const avi::StreamInfo& info) override {
    return inner_ ? inner_->CreateStream(stream, info) : -1;
  }
  int SetTags(const avi::FileTags& tags) override { return inner_ ? inner_->SetTags(tags) : -1; }

  // The streams are released by now: completing the file writes the container. Only a file
  // that was written whole and is on the disk takes its name; one that failed is removed, so an
  // existing file is replaced only by a complete one, and none of its frames is counted.
  avi::Completion Complete() override {
    avi::Completion done = inner_ ? inner_->Complete() : avi::Completion{0, EIO};
    inner_.reset();
    completed_ = true;
    if (done.error != 0 || sink_->error() != 0 || !sink_->Sync()) {
      failed_ = true;
      done.videoFrames = 0;
      done.error = writeError();
      return done;
    }
    if (keepWanted_ && !sink_->Keep(&keepReason_)) keepFailed_ = true;
    done.error = writeError();
    return done;
  }
  int writeError() const override { return sink_->error() ? sink_->error() : (keepFailed_ || failed_ ? EIO : 0); }
  bool Keep(std::string* reason) override {
    if (!completed_) {
      keepWanted_ = true;
      return true;
    }
    if (failed_) {
      if (reason) *reason = "the file could not be completed";
      return false;
    }
    if (keepFailed_) {
      if (reason) *reason = keepReason_;
      return false;
    }
    return sink_->Keep(reason);
  }

 private:
  std::shared_ptr<avi::AviFile> inner_;
  std::shared_ptr<avi::OutputSink> sink_;
  bool completed_ = false, keepWanted_ = false, keepFailed_ = false, failed_ = false;
  std::string keepReason_;
};

// Opens the output of a job under the rules of avi::OpenOutputSink, in any container.
int OpenOutput(std::shared_ptr<avi::AviFile>& file, container::Format format, const std::string& path,
               const avi::OutputOptions& options, std::string* reason) {
  if (format == container::Format::Avi) return avi::OpenAviOutput(file, path, options, reason);
  std::shared_ptr<avi::OutputSink> sink = avi::OpenOutputSink(path, options, reason);
  if (!sink) return -1;
  // The scratch file goes beside the output, on a disk the user chose to have room.
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::shared_ptr<avi::AviFile> inner;
  if (container::OpenMediaFile(inner, format, std::make_unique<SharedSink>(sink), folder.empty() ? "." : folder,
                               reason) != 0)
    return -1;
  file = std::make_shared<MediaOutput>(std::move(inner), std::move(sink));
  return 0;
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

void ConversionJob::Diagnose(const std::string& reason) {
  if (diagnostics_ && !reason.empty()) diagnostics_(reason);
}

bool ConversionJob::WouldReplace(const std::string& outputName) {
  struct stat st {};
  return !outputName.empty() && ::stat(outputName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t ConversionJob::ComputeRate(uint32_t frameCount, int32_t startTime, int32_t endTime) {
  return ClassicWholeRate(frameCount, startTime, endTime);
}

int32_t ConversionJob::ComputeOutputHeight(int32_t width, int32_t height) {
  return (width == 640 || width == 704) ? 2 * height : height;
}

void ConversionJob::DoubleLines(const uint8_t* picture, int32_t width, int32_t height, uint8_t* frame) {
  zentrova::DoubleLines(picture, width, height, frame);
}

ConversionJob::Setup ConversionJob::Convert(const std::string& inputName, const std::string& outputName,
                                            const CompressorChooser& choose) try {
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
  endLines_.clear();
  endReason_.clear();
  kept_ = false;
  openReason_.clear();
  if (!OpenRecording(inputPath_)) {
    ReleaseDecoding();
    if (options_.cancel && options_.cancel->load()) return Setup::Cancelled;
    Log(messages::kOpenFailed);
    Diagnose(openReason_);
    return Setup::Failed;
  }

  if (options_.window) {
    const FrameWindow& w = *options_.window;
    if (w.first >= w.end || w.end > frameCount_ || w.decodeFrom > w.first) {
      ReleaseDecoding();
      Log(messages::kOpenFailed);
      Diagnose(inputPath_ + ": the window of frames " + std::to_string(w.first) + " to " + std::to_string(w.end) +
               " does not fit the recording's " + std::to_string(frameCount_));
      return Setup::Failed;
    }
    frameCount_ = w.frames();
  }

  // The system's line first, then the reason behind it. What was created is released without
  // being kept, so that no file is left behind.
  auto fail = [this](const char* line, const std::string& why) {
    ReleaseDecoding();
    ReleaseAvi();
    Log(line);
    Diagnose(why);
    return Setup::Failed;
  };

  // Nothing is opened for writing before the output has passed the checks: not the recording
  // itself in any spelling, not an existing file without overwrite, no FIFO.
  std::string reason;
  avi::OutputOptions outputOptions;
  outputOptions.overwrite = options_.overwrite;
  outputOptions.hasInput = true;
  outputOptions.inputDevice = reader_->device();
  outputOptions.inputInode = reader_->inode();
  outputPath_ = output;
  replacesExisting_ = WouldReplace(output);
  if (OpenOutput(aviFile_, options_.format, output, outputOptions, &reason) != 0) {
    aviFile_.reset();
    return fail(messages::kOpenFailed, reason);
  }

  startTime_ = reader_->startTime();
  endTime_ = reader_->endTime();
  aviFile_->SetTags(container::TagsOfRecording(startTime_, reader_->text1(), reader_->text2(), reader_->text3()));
  // The estimate before any sound is in; the final rate is set when the loop ends.
  rate_ = ChooseRate(options_.rate, recordingFrames_, 0, startTime_, endTime_);

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
  if (aviFile_->CreateStream(videoStream_, streamInfo_) != 0)
    return fail(messages::kConvertFailed, "the AVI file refused the video stream");

  std::optional<avi::CompressOptions> options = choose ? choose() : std::optional<avi::CompressOptions>{};
  if (!options) {
    ReleaseDecoding();
    ReleaseAvi();
    return Setup::Cancelled;
  }
  options->threads = options_.threads;
  if (avi::MakeCompressedStream(compressedStream_, videoStream_, *options) != 0)
    return fail(messages::kConvertFailed, CompressorRefusal(options->codec));
  if (compressedStream_->SetFormat(0, &videoFormat_, static_cast<int32_t>(videoFormat_.biSize)) != 0)
    return fail(messages::kBadFormat, "the " + options->codec + " compressor does not take 24-bit pictures of " +
                                          std::to_string(videoFormat_.biWidth) + " x " +
                                          std::to_string(videoFormat_.biHeight));
  planar_ = avi::PlanarInputOf(compressedStream_.get());
  heldAudio_.clear();
  heldFirst_ = 0;
  heldOutOfMemory_ = false;
  audioHeld_ = compressedStream_->DeferWrites([this](int32_t index) { return WriteHeldAudio(index); });

  streamInfo_ = avi::StreamInfo{};
  streamInfo_.fccType = avi::FourCC('a', 'u', 'd', 's');
  streamInfo_.dwScale = audioFormat_.nBlockAlign;
  streamInfo_.dwRate = audioFormat_.nAvgBytesPerSec;
  streamInfo_.dwInitialFrames = 1;
  streamInfo_.dwSuggestedBufferSize = 1920;
  streamInfo_.dwSampleSize = audioFormat_.nBlockAlign;
  if (aviFile_->CreateStream(audioStream_, streamInfo_) != 0)
    return fail(messages::kConvertFailed, "the AVI file refused the audio stream");
  if (audioStream_->SetFormat(0, &audioFormat_, sizeof audioFormat_) != 0)
    return fail(messages::kBadFormat, "the AVI file refused the audio format (16-bit mono PCM at 8000 Hz)");

  audioPosition_ = 0;
  Log(messages::kSaving);
  return Setup::Started;
} catch (const std::bad_alloc&) {
  // Out of memory while setting up: nothing is kept, and the line says which step failed.
  const bool opening = aviFile_ == nullptr;
  ReleaseDecoding();
  ReleaseAvi();
  try {
    Log(opening ? messages::kOpenFailed : messages::kConvertFailed);
    if (diagnostics_) diagnostics_("out of memory");
  } catch (const std::bad_alloc&) {
  }
  return Setup::Failed;
}

int ConversionJob::OpenRecording(const std::string& path) {
  if (reader_) {
    openReason_ = "a conversion is already running";
    return 0;
  }
  reader_ = std::make_unique<ZrReader>();
  reader_->setFileErrorSink(fileErrors_);
  reader_->setCancelFlag(options_.cancel);
  const int opened = options_.found ? reader_->openFound(path, *options_.found, &recordingInfo_)
                                    : reader_->open(path, &recordingInfo_, 0, 1);
  if (!opened) {
    openReason_ = path + ": " + reader_->failureReason();
    reader_.reset();
    return 0;
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
    openReason_ = "the video decoder cannot be prepared for codec generation " + Hex32(codecStamp_);
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
  frames_ = {};
  frameRecord_.reset();
  videoData_ = {};
  audioData_ = {};
  videoDecoder_.reset();
  audioDecoder_.reset();
}

void ConversionJob::ReleaseAvi() {
  // Streams first, then the file: the last release completes the file on disk.
  videoStream_.reset();
  planar_ = nullptr;
  compressedStream_.reset();
  audioStream_.reset();
  aviFile_.reset();
}

bool ConversionJob::WriteFrameAudio(const FrameWork& work) { return WriteAudio(work.pcm.data(), work.audioBytes); }

bool ConversionJob::WriteAudio(const int16_t* pcm, uint32_t audioBytes) {
  // Appended in the pieces the decoder took them in (at most kBufferBytes each).
  constexpr uint32_t kPiece = static_cast<uint32_t>(G726Decoder::kBufferBytes);
  for (uint32_t done = 0; done < audioBytes;) {
    const uint32_t n = std::min(kPiece, audioBytes - done);
    const int32_t samples = static_cast<int32_t>(n / 3 * 8);
    int32_t written = 0;
    if (audioStream_->Write(audioPosition_, samples, pcm + done / 3 * 8, samples * 2, 0, &written, nullptr) != 0)
      return false;
    audioPosition_ += written;
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

bool ConversionJob::WriteHeldAudio(int32_t index) try {
  if (index > 0 && !kept_) {
    kept_ = true;  // frame 0 is in the file
    if (!aviFile_->Keep(&keepReason_)) return false;
  }
  for (; heldFirst_ < heldAudio_.size() && heldAudio_[heldFirst_].frame <= index; ++heldFirst_) {
    HeldAudio& held = heldAudio_[heldFirst_];
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

bool ConversionJob::WriteFramePicture(const FrameWork& work, int32_t index) {
  const int32_t width = recordingInfo_.width;
  const int32_t height = recordingInfo_.height;
  const int32_t outputHeight = videoFormat_.biHeight;
  if (planar_) {
    return planar_->WritePlanes(index, PlanesOf(work, width, height, outputHeight != height, scaleScratch_),
                                avi::kKeyFrame) == 0;
  }
  PictureOf(work, width, height, outputHeight, frameBuffer_.data(), scaleScratch_);
  return compressedStream_->Write(index, 1, frameBuffer_.data(), static_cast<int32_t>(frameBuffer_.size()),
                                  avi::kKeyFrame, nullptr, nullptr) == 0;
}

std::string ConversionJob::WriteFailureReason() const {
  const int err = aviFile_ ? aviFile_->writeError() : 0;
  if (err != 0) return "cannot write " + outputPath_ + ": " + std::strerror(err);
  return "the output refused a frame (" + outputPath_ + " or its scratch file can hold no more)";
}

ConversionJob::LoopResult ConversionJob::RunFrameLoop(const std::atomic<bool>* cancel, const ProgressSink& progress) {
  LoopResult result;
  if (!reader_ || !compressedStream_ || !audioStream_) return result;
  if (!cancel) cancel = options_.cancel;
  result.framesDeclared = frameCount_;
  uint32_t cutFrames = 0, firstCut = 0;
  bool writeFailed = false, outOfMemory = false;
  keepReason_.clear();
  // Reading and decoding run ahead of compressing and writing, on a thread of their own when
  // the job may use two; the frames are written in order either way.
  FramePipeline pipeline(frames_.size(), frames_.size() > 1);
  uint32_t fetched = 0;
  const FrameWork* previous = nullptr;
  bool referenceGood = true;  // the decoder's state before any picture is a defined one
  auto produce = [&](size_t slot) {
    if (fetched >= frameCount_ || (cancel && cancel->load(std::memory_order_relaxed))) return false;
    if (fetched == 0 && options_.window) {
      // A window begins at its intra picture, reached through the block index; the pictures
      // up to its first frame are decoded (their sound too, so the sound decoder has adapted
      // as far as it can) and not written.
      const FrameWindow& w = *options_.window;
      if (!reader_->fetchFrame(frameRecord_.get(), w.decodeBlock, w.decodeFrameInBlock)) return false;
      for (uint32_t i = w.decodeFrom; i < w.first; ++i) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return false;
        DecodeFrameWork(*frameRecord_, *videoDecoder_, *audioDecoder_, true, recordingInfo_.width,
                        recordingInfo_.height, previous, referenceGood, frames_[slot]);
        previous = &frames_[slot];
        if (!reader_->fetchFrame(frameRecord_.get(), -1, 0)) return false;
      }
    } else if (!reader_->fetchFrame(frameRecord_.get(), -1, 0)) {
      return false;
    }
    ++fetched;
    if (frameRecord_->cut && cutFrames++ == 0) firstCut = fetched;
    // Sound is decoded where there is time for it: with the pictures, unless the writing side
    // only converts pictures of the recording's own size to 24 bits (then it is the lighter one).
    const bool lightWriter = !planar_ && videoFormat_.biHeight == recordingInfo_.height;
    DecodeFrameWork(*frameRecord_, *videoDecoder_, *audioDecoder_, !lightWriter, recordingInfo_.width,
                    recordingInfo_.height, previous, referenceGood, frames_[slot]);
    previous = &frames_[slot];
    return true;
  };
  auto consume = [&](size_t slot) {
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      result.cancelled = true;
      result.outcome = JobOutcome::Cancelled;
      return false;
    }
    DecodeFrameAudio(frames_[slot], *audioDecoder_);
    // The first write that fails ends the loop: nothing after it could be trusted to land.
    bool wrote = false;
    const auto index = static_cast<int32_t>(result.framesWritten);
    try {
      if (audioHeld_) {
        HoldFrameAudio(frames_[slot], index);
        wrote = WriteFramePicture(frames_[slot], index);
      } else {
        wrote = WriteFrameAudio(frames_[slot]) && WriteFramePicture(frames_[slot], index);
      }
    } catch (const std::bad_alloc&) {
      outOfMemory = true;  // the frames before this one are kept
      return false;
    }
    if (!wrote) {
      writeFailed = true;
      return false;
    }
    // With its first frame the output takes its name (replacing an existing file only now).
    if (!kept_ && !audioHeld_) {
      kept_ = true;
      if (!aviFile_->Keep(&keepReason_)) {
        writeFailed = true;
        return false;
      }
    }
    ++result.framesWritten;
    if (frames_[slot].damaged && result.damagedPictures++ == 0) result.firstDamagedFrame = result.framesWritten;
    if (frames_[slot].resized) ++result.resizedPictures;
    if (progress) progress(result.framesWritten, frameCount_);
    return true;
  };
  try {
    pipeline.Run(produce, consume);
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
  std::string exhausted, chainProblem;
  const uint32_t beyondChain = reader_->framesBeyondChain();
  try {
    exhausted = reader_->failureReason();
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
  // A job that wrote no frame keeps its file only when it replaces nothing.
  if (!kept_ && (result.framesWritten > 0 || !replacesExisting_)) {
    kept_ = true;
    try {
      if (!aviFile_->Keep(&keepReason_)) {
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
      endLines_.push_back("Out of memory: " + Count(result.framesWritten, total) + " frames saved.");
    } else if (writeFailed) {
      result.outcome = JobOutcome::WriteFailed;
      result.reason = writeReason;
      endLines_.push_back(std::string(WriteFailureLead(done.error)) + ": " + Count(result.framesWritten, total) +
                          " frames saved.");
    } else if (result.cancelled) {
      Log("Conversion cancelled: " + Count(result.framesWritten, total) + " frames saved.");
    } else if (fetched < total) {
      result.outcome = JobOutcome::RecordingShort;
      if (exhausted == "the recording is exhausted") exhausted = "the file ends before frame " + std::to_string(fetched + 1);
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
    // An AVI file takes its name with its first frame; a Matroska or MP4 file only once complete.
    if (!result.framesWritten && replacesExisting_ && (!kept_ || options_.format != container::Format::Avi)) {
      result.reason += (result.reason.empty() ? "" : "; ") + outputPath_ + " was left as it was";
    }
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

void ConversionJob::Finish() {
  Log(messages::kSaved);
  for (const std::string& line : endLines_) Log(line);
  Diagnose(endReason_);
  endLines_.clear();
  endReason_.clear();
}

bool ConversionJob::Run(const std::string& inputName, const std::string& outputName, const CompressorChooser& choose,
                        const std::atomic<bool>* cancel, const ProgressSink& progress) {
  if (Convert(inputName, outputName, choose) != Setup::Started) return false;
  RunFrameLoop(cancel, progress);
  Finish();
  return true;
}

}  // namespace zentrova
