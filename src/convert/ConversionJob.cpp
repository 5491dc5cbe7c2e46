#include "convert/ConversionJob.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <new>

#include "audio/G726Decoder.h"
#include "container/ContainerFile.h"
#include "container/Tags.h"
#include "convert/FrameSchedule.h"
#include "convert/JobOutput.h"
#include "convert/Messages.h"
#include "libav/LibavCompressor.h"
#include "recording/ClockText.h"
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

// True when `a` and `b` name the same existing file.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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

bool ConversionJob::WouldReplace(const std::string& outputName, int folder) {
  struct stat st {};
  if (folder >= 0) {
    const size_t slash = outputName.rfind('/');
    const std::string name = slash == std::string::npos ? outputName : outputName.substr(slash + 1);
    return !name.empty() && ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
  }
  return !outputName.empty() && ::stat(outputName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int32_t ConversionJob::ComputeOutputHeight(int32_t width, int32_t height) {
  return (width == 640 || width == 704) ? 2 * height : height;
}

ConversionJob::Setup ConversionJob::Convert(const std::string& inputName, const std::string& outputName,
                                            const CompressorChooser& choose) try {
  inputPath_ = inputName;
  const std::string output = outputName;
  if (const Setup named = CheckNames(output); named != Setup::Started) return named;
  endLines_.clear();
  endReason_.clear();
  kept_ = false;
  firstFrameIn_ = false;
  if (const Setup opened = OpenInput(output); opened != Setup::Started) return opened;
  if (const Setup opened = OpenOutputFile(output); opened != Setup::Started) return opened;
  if (const Setup created = CreateVideoStream(); created != Setup::Started) return created;
  if (const Setup started = StartCompressor(choose); started != Setup::Started) return started;
  // A recording without sound gets no sound stream: an empty one makes players invent a length
  // for it, or stop.
  if (hasSound_)
    if (const Setup created = CreateSoundStream(); created != Setup::Started) return created;

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

ConversionJob::Setup ConversionJob::CheckNames(const std::string& output) {
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
  return Setup::Started;
}

ConversionJob::Setup ConversionJob::RefuseInput(const std::string& why) {
  ReleaseDecoding();
  Log(messages::kOpenFailed);
  Diagnose(why);
  return Setup::Failed;
}

ConversionJob::Setup ConversionJob::OpenInput(const std::string& output) {
  if (auto opened = OpenRecording(inputPath_); !opened) {
    ReleaseDecoding();
    if (options_.cancel && options_.cancel->load()) return Setup::Cancelled;
    Log(messages::kOpenFailed);
    Diagnose(opened.reason());
    return Setup::Failed;
  }
  if (options_.window) {
    const FrameWindow& w = *options_.window;
    if (w.first >= w.end || w.end > frameCount_ || w.decodeFrom > w.first)
      return RefuseInput(inputPath_ + ": the window of frames " + std::to_string(w.first) + " to " +
                         std::to_string(w.end) + " does not fit the recording's " + std::to_string(frameCount_));
    frameCount_ = w.frames();
  }
  if (!options_.joined.empty()) {
    for (const JoinedRecording& j : options_.joined)
      if (SameFile(j.path, output)) return RefuseInput(output + " is one of the recordings joined (" + j.path + ")");
    const uint64_t frames = ScheduleOfJob(options_.window, frameCount_, options_.joined).outputFrames();
    if (frames > static_cast<uint64_t>(INT32_MAX))
      return RefuseInput("the joined recordings and their pauses come to " + std::to_string(frames) +
                         " frames, more than one output holds");
    frameCount_ = static_cast<uint32_t>(frames);
  }
  return Setup::Started;
}

ConversionJob::Setup ConversionJob::FailSetup(const char* line, const std::string& why) {
  ReleaseDecoding();
  ReleaseAvi();
  Log(line);
  Diagnose(why);
  return Setup::Failed;
}

ConversionJob::Setup ConversionJob::OpenOutputFile(const std::string& output) {
  // Nothing is opened for writing before the output has passed the checks: not the recording
  // itself in any spelling, not an existing file without overwrite, no FIFO.
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
    if (!aviFile_) return FailSetup(messages::kOpenFailed, "no output");
  } else if (auto opened = OpenOutput(options_.format, output, outputOptions); !opened) {
    aviFile_.reset();
    return FailSetup(messages::kOpenFailed, opened.reason());
  } else {
    aviFile_ = std::move(*opened);
  }

  startTime_ = reader_->startTime();
  endTime_ = reader_->endTime();
  // Tags are what the file says about the recording; a file that takes none still holds it whole.
  (void)aviFile_->SetTags(container::TagsOfRecording(startTime_, reader_->text1(), reader_->text2(), reader_->text3(),
                                                     options_.textEncoding));
  GiveClock();
  if (options_.burnTime) {
    if (auto opened = OpenOverlay(); !opened) return FailSetup(messages::kConvertFailed, opened.reason());
  }
  // The estimate before any sound is in; the final rate is set when the loop ends.
  rate_ = ChooseRate(options_.rate, recordingFrames_, 0, startTime_, endTime_);
  return Setup::Started;
}

ConversionJob::Setup ConversionJob::CreateVideoStream() {
  streamInfo_ = StreamInfo{};
  streamInfo_.fccType = FourCC('v', 'i', 'd', 's');
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
  auto video = aviFile_->CreateStream(streamInfo_);
  if (!video) return FailSetup(messages::kConvertFailed, "the AVI file refused the video stream");
  videoStream_ = std::move(*video);
  return Setup::Started;
}

ConversionJob::Setup ConversionJob::StartCompressor(const CompressorChooser& choose) {
  std::optional<avi::CompressOptions> options = choose ? choose() : std::optional<avi::CompressOptions>{};
  if (!options) {
    ReleaseDecoding();
    ReleaseAvi();
    return Setup::Cancelled;
  }
  options->threads = options_.threads;
  // Pictures the container does not carry (raw ones in Matroska or MP4): refused with the reason
  // before a picture is coded.
  if (auto carried = container::CanCarry(options_.format, options->codec); !carried)
    return FailSetup(messages::kBadFormat, carried.reason());
  auto compressed = avi::MakeCompressedStream(videoStream_, *options);
  if (!compressed) return FailSetup(messages::kConvertFailed, CompressorRefusal(options->codec));
  compressedStream_ = std::move(*compressed);
  if (!compressedStream_->SetFormat(0, &videoFormat_, static_cast<int32_t>(videoFormat_.biSize)))
    return FailSetup(messages::kBadFormat, "the " + options->codec + " compressor does not take 24-bit pictures of " +
                                               std::to_string(videoFormat_.biWidth) + " x " +
                                               std::to_string(videoFormat_.biHeight));
  // Text is drawn on the 24-bit picture, and a pause repeats one, so the compressor takes those.
  pictureHere_ = overlay_ || !PausesToFill().empty();
  planar_ = pictureHere_ ? nullptr : avi::PlanarInputOf(compressedStream_.get());
  heldAudio_.clear();
  heldFirst_ = 0;
  heldOutOfMemory_ = false;
  // The frame loop gives the compressor its own call for the held sound; none is asked for before.
  audioHeld_ = compressedStream_->DeferWrites([](int32_t) { return false; });
  return Setup::Started;
}

ConversionJob::Setup ConversionJob::CreateSoundStream() {
  streamInfo_ = StreamInfo{};
  streamInfo_.fccType = FourCC('a', 'u', 'd', 's');
  streamInfo_.dwScale = audioFormat_.nBlockAlign;
  streamInfo_.dwRate = audioFormat_.nAvgBytesPerSec;
  streamInfo_.dwInitialFrames = 1;
  streamInfo_.dwSuggestedBufferSize = 1920;
  streamInfo_.dwSampleSize = audioFormat_.nBlockAlign;
  auto audio = aviFile_->CreateStream(streamInfo_);
  if (!audio) return FailSetup(messages::kConvertFailed, "the AVI file refused the audio stream");
  audioStream_ = std::move(*audio);
  if (!audioStream_->SetFormat(0, &audioFormat_, sizeof audioFormat_))
    return FailSetup(messages::kBadFormat, "the AVI file refused the audio format (16-bit mono PCM at 8000 Hz)");
  return Setup::Started;
}

void ConversionJob::ReleaseAvi() {
  overlay_.reset();
  // Streams first, then the file: the last release completes the file on disk.
  videoStream_.reset();
  planar_ = nullptr;
  compressedStream_.reset();
  audioStream_.reset();
  aviFile_.reset();
}

bool ConversionJob::Run(const std::string& inputName, const std::string& outputName, const CompressorChooser& choose,
                        const std::atomic<bool>* cancel, const ProgressSink& progress) {
  if (Convert(inputName, outputName, choose) != Setup::Started) return false;
  RunFrameLoop(cancel, progress);
  Finish();
  return true;
}

}  // namespace zentrova
