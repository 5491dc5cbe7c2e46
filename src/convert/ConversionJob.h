#pragma once
// One conversion of a ZR recording into an AVI file: the name checks, the set-up of the reader,
// decoders and AVI streams, the frame loop and the releases. The command line and the desktop
// dialog both drive it; every message goes to the log sink as one line.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "avi/AviFile.h"
#include "avi/Compressor.h"
#include "base/Expected.h"
#include "container/ContainerFile.h"
#include "convert/FramePipeline.h"
#include "convert/FrameRate.h"
#include "convert/GroupPipeline.h"
#include "convert/FrameWindow.h"
#include "convert/TimeOverlay.h"
#include "convert/JobOptions.h"
#include "convert/JoinedRecording.h"
#include "recording/FrameRecord.h"
#include "recording/RecordingClock.h"
#include "recording/ZrReader.h"
#include "video/VideoDecoder.h"

namespace zentrova {

class G726Decoder;

// Frames counted from 0, as runs of consecutive indexes: first..last inclusive.
struct FrameSpan {
  uint32_t first = 0;
  uint32_t last = 0;
};
using FrameSpans = std::vector<FrameSpan>;
// Adds `index`, which is never below the last one added.
void AddFrame(FrameSpans& runs, uint32_t index);

// Where an AVI output timed by the recording's clock repeats the last picture through a pause of
// the recorder: `count` pictures before the frame written as `beforeFrame` (counted from 0).
struct PictureRepeat {
  uint32_t beforeFrame = 0;
  uint32_t count = 0;
};

// How a started job ended. The command line maps it to its exit status, the dialog to log lines.
enum class JobOutcome {
  Saved,           // every declared frame was converted
  RecordingShort,  // the recording ended before its declared frames, or frames it holds could not be
                   // shown as recorded; all that was there is saved
  WriteFailed,     // a write to the output failed (disk full, I/O error); the frames so far are saved
  Cancelled,       // cancel was asked for; the frames so far are saved
};

class ConversionJob {
 public:
  enum class Setup { Started, Failed, Cancelled };

  struct LoopResult {
    uint32_t framesWritten = 0;   // frames the completed output holds
    uint32_t framesDeclared = 0;  // frames the recording declares
    bool cancelled = false;
    // Frames written whose picture could not be shown as recorded (broken picture data, or an
    // inter picture whose reference was lost): each repeats the last good picture, or is black.
    uint32_t damagedPictures = 0;
    uint32_t firstDamagedFrame = 0;  // counted from 1; 0 when none was damaged
    // Frames written whose picture, of another size than the recording, was scaled to it.
    uint32_t resizedPictures = 0;
    // Which frames, for the report: frames written black (no picture, or a damaged one with no
    // picture before it), frames whose picture was damaged, and frames the recording cut short
    // (counted as read, from 0).
    FrameSpans blackFrames, damagedFrames, cutFrames;
    // Pictures repeated through the recorder's pauses (AVI output, OutputTiming::Recorded): in
    // the file besides the frames written, with silence as long as each pause.
    std::vector<PictureRepeat> repeats;
    uint32_t repeatedPictures = 0;
    // Sound bytes read and not converted: the odd one or two after a frame's last whole group.
    uint64_t audioBytesDropped = 0;
    // Frames written as repeats of the last picture to fill the pauses between joined recordings.
    uint32_t gapRepeats = 0;
    JobOutcome outcome = JobOutcome::Saved;
    std::string reason;  // one line on what went wrong when the outcome is not Saved
    // A conversion that was to replace an existing file and did not end whole leaves that file
    // as it was; what it wrote is kept here beside it (NAME.partial.avi), "" when nothing was.
    std::string partialPath;
  };

  static constexpr uint32_t kAudioBufferBytes = 65536;
  static constexpr uint32_t kPcmBufferBytes = 131072;
  // Decoded frames waiting for the writer when groups of pictures are decoded side by side, and
  // the workers' own decoders and pictures (kWorkerBytes each): the memory they take whatever
  // the number of threads. Fewer frames in flight than a group or two per worker leave workers
  // waiting, never the frames different.
  static constexpr size_t kFramesInFlightBytes = 28u << 20;
  static constexpr size_t kWorkerBytes = 2560u << 10;
  static constexpr unsigned kMostWorkers = 8;
  // Frames that wait as pictures are worth it down to a window of about a group: at 352x288 on
  // two workers, 10,000 frames took 0.58 s with 40 pictures in flight (0.49 s with 77), 0.67 s
  // with 158 frames of planes coloured by the writer. Shorter, the workers wait for the writer.
  static constexpr size_t kLeastPictureWindow = 32;
  // Compressed frames read ahead of the workers: enough for the next groups of every worker.
  static constexpr size_t kReadAheadBytes = 4u << 20;

  // `log` receives the job's messages; `fileErrors` the reader's file-error reports (a message box
  // on the desktop); `diagnostics` one-line reasons behind a failure ("text1 is 1001 bytes
  // long, ..."), which the command line prints on standard error.
  ConversionJob(LogSink log, FileErrorSink fileErrors = {}, JobOptions options = {}, LogSink diagnostics = {});
  ~ConversionJob();
  ConversionJob(const ConversionJob&) = delete;
  ConversionJob& operator=(const ConversionJob&) = delete;

  // The Convert command: checks the names, opens the recording, creates the AVI file and its
  // streams. Started means "Saving the AVI file! Please waiting..." was logged and the frame loop
  // may run; Failed means a log line said what failed and the diagnostics sink why; Cancelled
  // means the chooser (or the cancel flag of the options) cancelled. A set-up that does not start
  // leaves no file behind and an existing output as it was.
  Setup Convert(const std::string& inputName, const std::string& outputName,
                const CompressorChooser& choose);

  // Runs the frame loop of a started job, then releases everything (which completes the AVI
  // file). It may run on another thread than Convert. A set `cancel` flag (or the options' one)
  // ends the loop after the current frame; the file keeps the frames so far and a line says so.
  // A write that fails ends the loop too (WriteFailed); a recording that delivers fewer frames
  // than it declares, or frames cut short, gives RecordingShort. A new output takes its name with
  // the first frame written; one that replaces an existing file only when the loop ends whole,
  // and after a cancel or a failure the existing file stays and LoopResult::partialPath names
  // where the frames written went.
  LoopResult RunFrameLoop(const std::atomic<bool>* cancel = nullptr, const ProgressSink& progress = {});

  // Logs "File saved!": the end of every started job that was not cancelled, whether the loop
  // ran to the end or not (a cancelled one ends with "Conversion cancelled: ..."); then, when the
  // loop fell short, a line on what the file holds ("Disk full: 10 of 200 frames
  // saved.", "The recording ended after 10 of 25 frames.") and the reason on the diagnostics sink;
  // then one on damaged pictures, and one on pictures of another size.
  void Finish();

  // True when `outputName` names an existing regular file (through any symbolic links), which a
  // job replaces only with JobOptions::overwrite. Front ends ask the user before they set it.
  // With an open `folder`, the name's last component in that folder, a link there not followed.
  static bool WouldReplace(const std::string& outputName, int folder = -1);

  // Convert, RunFrameLoop and Finish in one go. True only when "File saved!" was logged.
  bool Run(const std::string& inputName, const std::string& outputName, const CompressorChooser& choose,
           const std::atomic<bool>* cancel = nullptr, const ProgressSink& progress = {});

  void ReleaseDecoding();
  void ReleaseAvi();

  // True between a Started Convert and the end of RunFrameLoop: a second job must wait.
  bool busy() const { return reader_ != nullptr || aviFile_ != nullptr; }

  // What the set-up derived, for the front ends and the tests.
  uint32_t frameCount() const { return frameCount_; }
  // The video rate: after Convert the estimate the compressor starts from, after RunFrameLoop
  // the rate the file carries (from the frames and samples written, unless forced or classic).
  const DerivedRate& rate() const { return rate_; }
  int32_t outputHeight() const { return videoFormat_.biHeight; }
  const RecordingInfo& recordingInfo() const { return recordingInfo_; }
  uint32_t codecStamp() const { return codecStamp_; }
  const BitmapInfoHeader& videoFormat() const { return videoFormat_; }

  // Output height: doubled for 640- and 704-wide recordings.
  static int32_t ComputeOutputHeight(int32_t width, int32_t height);

 private:
  // The steps of Convert, in its order. Each says Started when the next may go on; one that
  // fails has released what the set-up made and logged the line and the reason.
  Setup CheckNames(const std::string& output);
  // The recording, and the frames of it the window and the joined recordings ask for.
  Setup OpenInput(const std::string& output);
  // The output file, with the recording's tags and clock, and the overlay's font.
  Setup OpenOutputFile(const std::string& output);
  Setup CreateVideoStream();
  // The compressor the chooser picks, on the video stream; Cancelled when it picks none.
  Setup StartCompressor(const CompressorChooser& choose);
  Setup CreateSoundStream();
  // A recording refused before any output is opened, and a set-up failure after.
  Setup RefuseInput(const std::string& why);
  Setup FailSetup(const char* line, const std::string& why);
  // Opens the recording and prepares its decoders; the error says why not.
  Expected<void> OpenRecording(const std::string& path);
  void GiveClock();
  // Opens the joined recording `index` in place of the one read before; the error says why it
  // does not open or does not match the job's pictures.
  Expected<ZrReader*> OpenJoined(size_t index);
  // Whether any frame of the recording carries sound, from the frame headers alone.
  bool RecordingHasSound();
  // Threads that decode groups of pictures side by side: the job's threads, or the cores.
  unsigned DecodingWorkers() const;
  // The frame loop with groups of pictures decoded side by side; false (nothing read) when the
  // job has one thread, or its threads cannot be had.
  bool RunGroups(const GroupPipeline::Fetch& fetch, const GroupPipeline::Write& write);
  // The frame loop with one decoder: reading and decoding, then writing, in turn or in two threads.
  void RunInTurn(const GroupPipeline::Fetch& fetch, const GroupPipeline::Write& write);
  // The steps of RunFrameLoop, on what one run of it keeps (FrameLoopState.h).
  struct LoopState;
  // The next frame to decode: null once the frames asked for are read or the reader stops.
  const FrameRecord* FetchFrame(LoopState& loop);
  // Moves the reading on to joined recording `index`; the error says why it cannot be read.
  Expected<void> SwitchToJoined(LoopState& loop, size_t index);
  // Writes a decoded frame, after the pause of the recorder before it; false ends the loop.
  bool WriteFrame(LoopState& loop, FrameWork& frame);
  // Repeats the last picture through the recorder's pause that ends before `recordingFrame`
  // (AVI output timed by the clock); false ends the loop.
  bool FillPause(LoopState& loop, uint32_t recordingFrame);
  // After the last frame: the pictures still being coded, a cancel that came late, the end of
  // the recording's block chain.
  void FinishReading(LoopState& loop);
  // Completes the output and keeps it at its name, or beside the file it was to replace.
  void CompleteOutput(LoopState& loop);
  // The recording's frames the completed file holds (its repeats through pauses left out).
  static uint64_t FramesHeld(const LoopState& loop);
  // The lines and the reason that say what the file holds and why it holds less.
  void ReportLoopEnd(LoopState& loop);
  void SayWhyShort(LoopState& loop);
  Expected<void> WriteFrameAudio(const FrameWork& work);
  Expected<void> WriteAudio(const int16_t* pcm, uint32_t audioBytes);
  // For a compressor that hands its pictures on later: the frame's sound waits for its picture.
  void HoldFrameAudio(const FrameWork& work, int32_t index);
  // Writes the sound held for frames up to `index`, just before that frame's picture goes; the
  // output takes its name once the first frame is in. The compressor's call: false refuses the
  // picture, and why is the loop's.
  bool WriteHeldAudio(LoopState& loop, int32_t index);
  // `frame`: the recording's frame, whose clock time a burnt-in text shows.
  bool WriteFramePicture(const FrameWork& work, int32_t index, uint32_t frame);
  // The font for --burn-time, sized for the pictures, or why it cannot load.
  Expected<void> OpenOverlay();
  // `pictures`: in the file, repeats included (`repeats` of them).
  void SetFinalRate(uint32_t pictures, uint32_t repeats);
  // The pauses of the recorder inside the frames converted, when an AVI output repeats the last
  // picture through them.
  std::vector<ClockGap> PausesToFill();
  // `count` repeats of the picture written last, from picture `index` on, with `silence` samples
  // shared among them.
  // Fails when a write fails, or as Cancelled when `cancel` is set; `written` says how many went in.
  Expected<void> WriteRepeats(int32_t index, uint32_t count, uint64_t silence, const std::atomic<bool>* cancel,
                              uint32_t& written);
  Expected<void> WriteSilence(uint64_t samples);
  void Log(const std::string& line);
  void Diagnose(const std::string& reason);
  std::string WriteFailureReason() const;
  // Frame 0 is in the file. With it a new output takes its name, so that even a killed conversion
  // leaves a playable file there; one that replaces a file is brought up to date alike and takes
  // its name only once the job ends whole. The error says why the move failed.
  Expected<void> FirstFrameIn();
  // Moves the output of a replacing job that did not end whole to the first free partial name.
  void KeepPartial();
  // " in NAME.partial.avi; NAME is as it was" for the line that ends such a job.
  std::string PartialText() const;

  LogSink log_;
  FileErrorSink fileErrors_;
  LogSink diagnostics_;
  JobOptions options_;

  std::string inputPath_;
  std::unique_ptr<ZrReader> reader_;
  std::unique_ptr<ZrReader> joinedReader_;  // the joined recording being read, after the first
  std::unique_ptr<VideoDecoder> videoDecoder_;
  std::vector<uint8_t> frameBuffer_;
  RecordingInfo recordingInfo_;
  std::unique_ptr<FrameRecord> frameRecord_;
  std::vector<uint8_t> videoData_;
  std::vector<uint8_t> audioData_;
  uint32_t frameCount_ = 0;
  uint32_t recordingFrames_ = 0;  // all the recording's, for its rate when a window has no sound
  BitmapInfoHeader videoFormat_;
  std::shared_ptr<OutputFile> aviFile_;
  StreamInfo streamInfo_;
  std::shared_ptr<OutputStream> videoStream_;
  std::shared_ptr<OutputStream> compressedStream_;
  std::shared_ptr<OutputStream> audioStream_;  // none for a recording without sound
  bool hasSound_ = true;
  WaveFormatEx audioFormat_;
  int32_t audioPosition_ = 0;
  struct HeldAudio {
    int32_t frame = 0;
    uint32_t audioBytes = 0;
    std::vector<int16_t> pcm;
    uint64_t silence = 0;  // samples of silence instead (a repeated picture's)
  };
  bool audioHeld_ = false;           // the compressed stream defers its pictures
  bool heldOutOfMemory_ = false;
  // In frame order from heldFirst_ on (a vector: a job is made without allocating).
  std::vector<HeldAudio> heldAudio_;
  size_t heldFirst_ = 0;
  std::vector<std::vector<int16_t>> spareAudio_;
  std::vector<FrameWork> frames_;  // the frames between reading and writing
  avi::PlanarInput* planar_ = nullptr;  // the compressed stream's planar input, when it has one
  std::unique_ptr<G726Decoder> audioDecoder_;
  DerivedRate rate_;
  int32_t startTime_ = 0;
  int32_t endTime_ = 0;
  uint32_t codecStamp_ = 0;

  std::string outputPath_;
  bool replacesExisting_ = false;  // the output stands in for an existing file until kept
  bool kept_ = false;
  bool firstFrameIn_ = false;
  bool cancelled_ = false;         // the last loop was cancelled: Finish says so instead of "File saved!"
  std::string partialPath_;
  // What Finish adds after "File saved!": lines for the log, the most serious first, and a reason
  // for the diagnostics.
  std::vector<std::string> endLines_;
  std::string endReason_;
  std::vector<uint8_t> scaleScratch_;  // the writing side's room for pictures of another size
  std::unique_ptr<TimeOverlay> overlay_;  // --burn-time
  // The pictures go to the compressor as 24-bit frames made here (burnt-in text, repeats).
  bool pictureHere_ = false;
  uint32_t keepPictureOf_ = UINT32_MAX;  // the recording frame whose picture lastPicture_ keeps
  std::vector<uint8_t> lastPicture_;      // the picture that a pause after it repeats
  std::string cameraName_;                // text1 in UTF-8, drawn above the time
};

}  // namespace zentrova
