#pragma once
// What a front end asks of one conversion (JobOptions), and the callbacks a job reports through.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "avi/Compressor.h"
#include "container/ContainerFile.h"
#include "convert/FrameRate.h"
#include "convert/FrameWindow.h"
#include "convert/JoinedRecording.h"
#include "media/OutputFile.h"
#include "recording/RecordingClock.h"
#include "video/VideoDecoder.h"

namespace zentrova {

struct FoundRecording;

using LogSink = std::function<void(const std::string& line)>;
// Asked once per job for the video compressor; nullopt means the user cancelled.
using CompressorChooser = std::function<std::optional<avi::CompressOptions>()>;
// Called after every frame with the frames done and the total.
using ProgressSink = std::function<void(uint32_t done, uint32_t total)>;

// How the output's pictures are timed.
enum class OutputTiming {
  Rate,      // evenly, at the recording's rate
  // By the recording's clock: a Matroska or MP4 output gives each picture its own time, so a pause
  // of the recorder stays a pause; an AVI output, which has one rate, repeats the last picture
  // through it (with silence), and says so.
  Recorded,
};

struct JobOptions {
  IdctChoice idct = IdctChoice::Auto;
  // Replace an existing regular file at the output name. Without it such a name is refused
  // before anything is opened for writing ("File open failed!", then the reason). An output that
  // exists and is not a regular file (a device, a FIFO) is written in place either way; an output
  // that is the recording itself, in any spelling, is always refused.
  bool overwrite = false;
  // Threads one conversion may use (decoding groups of pictures side by side, compressing); 0:
  // as many as the process has cores. The output is the same on any number. A batch that runs
  // several conversions at once gives each its share of the cores.
  unsigned threads = 0;
  // How the video rate is chosen: by default from the recording's own timing, so that pictures
  // and sound end together (the desktop dialog always uses it).
  RateChoice rate{};
  // The container written. Only an AVI output must have a name ending in "avi".
  container::Format format = container::Format::Avi;
  // Set by the front end to cancel (Ctrl-C): it ends the set-up while the recording's blocks are
  // indexed (Convert then returns Cancelled) as well as the frame loop.
  const std::atomic<bool>* cancel = nullptr;
  // A recording that a scan found (--recover): its frames are read as the scan found them, not
  // through its block chain. The scan result must outlive the job.
  const FoundRecording* found = nullptr;
  // Where the frames go instead of a file at the output name (the hash command reads the
  // pictures and sound as a raw output would hold them). Nothing is opened for writing then.
  std::function<std::shared_ptr<OutputFile>()> outputFile{};
  // The encoding of the recording's texts (an iconv name); empty: UTF-8 when they are valid
  // UTF-8, else Windows-1252.
  std::string textEncoding = {};
  // Only a part of the recording (convert --from/--to): its frames and their sound are written,
  // the pictures decoded before its first frame are not. The frame counts of the job and its
  // lines are the window's.
  std::optional<FrameWindow> window = std::nullopt;
  // The recording's clock, opened on a reader of its own that outlives the job; without it the
  // output carries no frame's time.
  RecordingClock* clock = nullptr;
  // With the clock: how the pictures are timed, and whether a Matroska or MP4 output carries a
  // subtitle track "Recording time" of each frame's clock time in the recorder's time.
  OutputTiming timing = OutputTiming::Rate;
  bool clockTrack = false;
  // With the clock: each frame's clock time, and text1 (the camera's name) above it, drawn into
  // the pictures with the font at `burnFont` (empty: TimeOverlay's default).
  bool burnTime = false;
  std::string burnFont = {};
  // Recordings written after the job's own into the same output (convert --join), in time order,
  // each after the repeats that fill the pause before it. They must hold pictures of the same
  // size and codec generation; one that does not, or does not open, ends the job there
  // (RecordingShort) with the frames so far kept.
  std::vector<JoinedRecording> joined = {};
  // The open folder the output is written in (avi::OutputOptions::folder), -1 for none: the
  // output's name is then looked up there and only there. The job does not close it.
  int outputFolder = -1;
};

}  // namespace zentrova
