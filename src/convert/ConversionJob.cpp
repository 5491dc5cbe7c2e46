#include "convert/ConversionJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "audio/G726Decoder.h"
#include "libav/LibavCompressor.h"
#include "container/ContainerFile.h"
#include "convert/Messages.h"
#include "video/ProcessorFeatures.h"
#include "container/Tags.h"
#include "recording/FrameSummary.h"
#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

// `tail` in lower case; the name's letters in any case.
bool EndsWithNoCase(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
  return true;
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

// "clip.avi" -> "clip.partial.avi", then "clip.partial-2.avi", ...: where the part of a
// conversion that was to replace "clip.avi" is kept.
std::string PartialName(const std::string& output, int attempt) {
  const size_t slash = output.rfind('/');
  const size_t dot = output.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExtension ? output.substr(0, dot) : output;
  const std::string extension = hasExtension ? output.substr(dot) : std::string();
  return stem + ".partial" + (attempt > 1 ? "-" + std::to_string(attempt) : std::string()) + extension;
}

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

// A Matroska or MP4 file on an output sink, written as the conversion goes. A new file takes its
// name with its first frame, as an AVI file does; one that replaces an existing file only once
// it is complete, so that a file cut short never stands where a whole one was.
class MediaOutput final : public avi::AviFile {
 public:
  MediaOutput(std::shared_ptr<avi::AviFile> inner, std::shared_ptr<avi::OutputSink> sink, std::string path,
              bool replaces)
      : inner_(std::move(inner)), sink_(std::move(sink)), path_(std::move(path)), replaces_(replaces) {}

  int CreateStream(std::shared_ptr<avi::AviStream>& stream, const avi::StreamInfo& info) override {
    return inner_ ? inner_->CreateStream(stream, info) : -1;
  }
  int SetTags(const avi::FileTags& tags) override { return inner_ ? inner_->SetTags(tags) : -1; }

  // The streams are released by now: completing the file writes its indexes. A replacement
  // takes its name only when written whole and on the disk; one that failed is removed with
  // none of its frames counted, so an existing file is replaced only by a complete one.
  avi::Completion Complete() override {
    avi::Completion done = inner_ ? inner_->Complete() : avi::Completion{0, EIO};
    inner_.reset();
    completed_ = true;
    const bool whole = done.error == 0 && sink_->error() == 0;
    const bool synced = sink_->Sync();
    if (!whole || !synced) {
      // A new file keeps the frames it holds up to a failed write, once they are on the disk; a
      // replacement that failed is not kept.
      failed_ = true;
      if (replaces_ || !kept_ || !synced) done.videoFrames = 0;
      // A new file that holds no frame (only its header) does not stay at its name.
      if (kept_ && !replaces_ && done.videoFrames == 0) ::unlink(path_.c_str());
      if (done.error != 0 && sink_->error() == 0) firstError_ = done.error;
      done.error = writeError();
      return done;
    }
    if (keepWanted_ && !sink_->Keep(&keepReason_)) keepFailed_ = true;
    done.error = writeError();
    return done;
  }
  int writeError() const override {
    if (sink_->error()) return sink_->error();
    if (firstError_) return firstError_;
    return keepFailed_ || failed_ ? EIO : 0;
  }
  bool Keep(std::string* reason) override {
    if (!completed_ && !replaces_) {
      kept_ = sink_->Keep(reason);
      return kept_;
    }
    if (!completed_) {
      keepWanted_ = true;
      return true;
    }
    if (failed_ && kept_) return true;
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
  int KeepAt(const std::string& name) override {
    if (!completed_ || failed_) return EIO;
    return sink_->KeepAt(name);
  }

 private:
  std::shared_ptr<avi::AviFile> inner_;
  std::shared_ptr<avi::OutputSink> sink_;
  std::string path_;
  bool replaces_;
  bool completed_ = false, keepWanted_ = false, keepFailed_ = false, failed_ = false, kept_ = false;
  int firstError_ = 0;
  std::string keepReason_;
};

// Opens the output of a job under the rules of avi::OpenOutputSink, in any container.
int OpenOutput(std::shared_ptr<avi::AviFile>& file, container::Format format, const std::string& path,
               const avi::OutputOptions& options, std::string* reason) {
  if (format == container::Format::Avi) return avi::OpenAviOutput(file, path, options, reason);
  std::shared_ptr<avi::OutputSink> sink = avi::OpenOutputSink(path, options, reason);
  if (!sink) return -1;
  const bool replaces = ConversionJob::WouldReplace(path, options.folder);
  std::shared_ptr<avi::AviFile> inner;
  if (container::OpenMediaFile(inner, format, std::make_unique<SharedSink>(sink), {}, reason) != 0) return -1;
  file = std::make_shared<MediaOutput>(std::move(inner), std::move(sink), path, replaces);
  return 0;
}

}  // namespace

void AddFrame(FrameSpans& runs, uint32_t index) {
  if (!runs.empty() && runs.back().last + 1 == index) {
    runs.back().last = index;
    return;
  }
  runs.push_back({index, index});
}

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

bool ConversionJob::WouldReplace(const std::string& outputName, int folder) {
  struct stat st {};
  if (folder >= 0) {
    const size_t slash = outputName.rfind('/');
    const std::string name = slash == std::string::npos ? outputName : outputName.substr(slash + 1);
    return !name.empty() && ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
  }
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
  // "clip.avi", "clip.AVI" and "clipavi" pass; "clip.avi.mp4" does not.
  if (options_.format == container::Format::Avi && !EndsWithNoCase(output, "avi")) {
    Log(messages::kBadOutputName);
    return Setup::Failed;
  }
  endLines_.clear();
  endReason_.clear();
  kept_ = false;
  firstFrameIn_ = false;
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
  outputOptions.folder = options_.outputFolder;
  outputPath_ = output;
  replacesExisting_ = !options_.outputFile && WouldReplace(output, options_.outputFolder);
  if (options_.outputFile) {
    aviFile_ = options_.outputFile();
    if (!aviFile_) return fail(messages::kOpenFailed, "no output");
  } else if (OpenOutput(aviFile_, options_.format, output, outputOptions, &reason) != 0) {
    aviFile_.reset();
    return fail(messages::kOpenFailed, reason);
  }

  startTime_ = reader_->startTime();
  endTime_ = reader_->endTime();
  aviFile_->SetTags(container::TagsOfRecording(startTime_, reader_->text1(), reader_->text2(), reader_->text3(),
                                                     options_.textEncoding));
  // The estimate before any sound is in; the final rate is set when the loop ends.
  rate_ = ChooseRate(options_.rate, recordingFrames_, 0, startTime_, endTime_);

  streamInfo_ = avi::StreamInfo{};
  streamInfo_.fccType = avi::FourCC('v', 'i', 'd', 's');
  // Compressors take their time base from here; MPEG-4 Part 2 has 16 bits for it.
  const FrameRate estimate = FrameRate::Reduced(rate_.rate.num, rate_.rate.den, 65535);
  streamInfo_.dwScale = estimate.den;
  streamInfo_.dwRate = estimate.num;
  streamInfo_.dwInitialFrames = 1;
  if (options_.format != container::Format::Avi && options_.rate.mode == RateChoice::Mode::Auto)
    streamInfo_.dwFlags |= container::kTimedBySound;
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
  // Pictures the container does not carry (raw ones in Matroska or MP4): refused with the reason
  // before a picture is coded.
  if (std::string why; !container::CanCarry(options_.format, options->codec, &why))
    return fail(messages::kBadFormat, why);
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

  // A recording without sound gets no sound stream: an empty one makes players invent a length
  // for it, or stop.
  if (hasSound_) {
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
  }

  audioPosition_ = 0;
  if (options_.format == container::Format::Avi)
    Log(messages::kSaving);
  else
    Log(std::string("Saving the ") + container::ContainerTitle(options_.format) + " file, please wait...");
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
  hasSound_ = RecordingHasSound();
  if (options_.cancel && options_.cancel->load()) {
    openReason_ = "cancelled while opening";
    return 0;
  }
  return 1;
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
  // The headers said there is no sound; sound that turns up anyway is refused, never dropped.
  if (!audioStream_) return audioBytes == 0;
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

bool ConversionJob::FirstFrameIn() {
  if (firstFrameIn_) return true;
  firstFrameIn_ = true;
  if (replacesExisting_) {
    aviFile_->Refresh();
    return true;
  }
  kept_ = true;
  return aviFile_->Keep(&keepReason_);
}

bool ConversionJob::WriteHeldAudio(int32_t index) try {
  if (index > 0 && !FirstFrameIn()) return false;  // frame 0 is in the file
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
  if (work.converted) {
    return compressedStream_->Write(index, 1, work.picture.data(), static_cast<int32_t>(work.picture.size()),
                                    avi::kKeyFrame, nullptr, nullptr) == 0;
  }
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
  return "the output refused a frame (" + outputPath_ + " can hold no more)";
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
  auto fetch = [&]() -> const FrameRecord* {
    if (fetched >= frameCount_ || (cancel && cancel->load(std::memory_order_relaxed))) return nullptr;
    const bool positioned = options_.window && fetched == 0 && preRollRead == 0;
    if (!reader_->fetchFrame(frameRecord_.get(), positioned ? options_.window->decodeBlock : -1,
                             positioned ? options_.window->decodeFrameInBlock : 0))
      return nullptr;
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

void ConversionJob::KeepPartial() {
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string name = PartialName(outputPath_, attempt);
    const int err = aviFile_->KeepAt(name);
    if (err == 0) {
      partialPath_ = name;
      return;
    }
    if (err != EEXIST) return;  // not kept: released with the file
  }
}

std::string ConversionJob::PartialText() const {
  if (partialPath_.empty()) return "; " + outputPath_ + " is as it was";
  return " in " + partialPath_ + "; " + outputPath_ + " is as it was";
}

void ConversionJob::Finish() {
  // A cancel is never reported as a saved file: its line ends the log.
  if (!cancelled_) Log(messages::kSaved);
  cancelled_ = false;
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
