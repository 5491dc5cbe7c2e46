// frames IN --at TIME... | --every INTERVAL -o DIR: the pictures shown at those clock times, as
// PNG files named by the recording and the frame's clock time (cam1_2008-01-10T02-14-05.040.png,
// recorder time), with the pixels of a raw conversion's frame.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Timeline.h"
#include "convert/FrameWindow.h"
#include "convert/StillFrames.h"
#include "libav/PngStill.h"
#include "recording/ClockText.h"
#include "recording/TimedRecording.h"

namespace zentrova::cli {

void AddFramesOptions(CLI::App& frames, FramesOptions& o) {
  frames.add_option("INPUT", o.input, "A ZR recording")->required();
  frames.add_option("--at", o.at,
                    "A time whose picture to write: a clock time with its date (recorder time; Z for UTC, "
                    "+hh:mm for another offset) or a position (1:23:45.5, 83:20, 90s, 90); repeatable");
  frames.add_option("--every", o.every, "A picture every INTERVAL (90s, 1:00, 0.5) from the first frame on");
  frames.add_option("-o,--output-dir", o.outDir, "Where the pictures go")->required();
  frames.add_option("--idct", o.idct, "Inverse DCT: auto (processor check), plain or vector")
      ->check(CLI::IsMember({"auto", "plain", "vector"}))
      ->capture_default_str();
  frames.add_option("--clock-offset", o.clockOffsetSeconds, "SECONDS added to every time of the recording");
  frames.add_flag("-y,--overwrite", o.overwrite, "Replace existing pictures");
}

namespace {

// The PNG of the frame shown at `t`, in `png`.
Expected<void> StillOf(StillFrames& stills, ZrReader& reader, RecordingClock& clock, ClockMs t,
                       std::vector<uint8_t>& picture, std::vector<uint8_t>& png) {
  const Expected<FrameWindow> window = FindFrameWindow(reader, clock, t, t + 1);
  if (!window) return window.error();
  if (auto decoded = stills.Picture(*window, picture); !decoded) return decoded;
  auto encoded = stills::EncodePng(picture.data(), stills.width(), stills.outputHeight(), png);
  if (!encoded) return encoded.error();
  return {};
}

}  // namespace

int RunFrames(const Invocation& how, std::ostream& out, std::ostream& err) {
  const FramesOptions& o = how.frames;
  // The times first: a malformed one is a usage error before anything is read.
  std::vector<TimeArgument> times;
  for (const std::string& text : o.at) {
    Expected<TimeArgument> t = TimeArgument::Parse(text);
    if (!t) {
      err << "zentrova: --at: " << t.reason() << "\n";
      return kExitUsage;
    }
    times.push_back(*t);
  }
  std::optional<int64_t> every;
  if (!o.every.empty()) {
    Expected<int64_t> length = TimeArgument::ParseLength(o.every);
    if (!length || *length <= 0) {
      err << "zentrova: --every: " << (length ? "the interval must be longer than 0 s" : length.reason()) << "\n";
      return kExitUsage;
    }
    every = *length;
  }
  TimedRecording timed;
  if (auto opened = timed.Open(o.input, ClockOffsetMs(o.clockOffsetSeconds)); !opened) {
    err << "zentrova: " << Printable(opened.reason()) << "\n";
    return kExitFailed;
  }
  RecordingClock& clock = *timed.clock;
  const int32_t zone = clock.utcOffsetHours();

  // The frame shown at each time: the last that began by then, unless the recorder had paused.
  std::set<uint32_t> frames;
  int status = kExitOk;
  auto frameAt = [&](ClockMs t, bool quietInPause) {
    const uint32_t after = clock.FirstFrameAtOrAfter(t + 1);
    std::string problem;
    if (after == 0) problem = "before the recording begins (" + RecorderTimeText(clock.start(), zone) + ")";
    else if (t >= clock.FrameTime(after - 1) + clock.FrameDuration(after - 1))
      problem = after >= clock.frameCount() ? "after the recording ends (" + RecorderTimeText(clock.end(), zone) + ")"
                                            : "in a pause of the recorder";
    if (problem.empty()) {
      frames.insert(after - 1);
    } else if (!quietInPause) {
      err << "zentrova: " << RecorderTimeText(t, zone) << " is " << problem << "; no picture\n";
      status = kExitFailed;
    }
  };
  for (const TimeArgument& t : times) frameAt(t.Resolve(clock), false);
  if (every)
    for (ClockMs t = clock.start(); t < clock.end(); t += *every) frameAt(t, true);
  if (frames.empty()) return kExitFailed;

  std::error_code ec;
  std::filesystem::create_directories(o.outDir, ec);
  if (!std::filesystem::is_directory(o.outDir, ec)) {
    err << "zentrova: cannot create the output folder " << Printable(o.outDir) << "\n";
    return kExitFailed;
  }
  StillFrames stills;
  if (auto opened = stills.Open(o.input, IdctOf(o.idct)); !opened) {
    err << "zentrova: " << Printable(opened.reason()) << "\n";
    return kExitFailed;
  }
  const std::string stem = std::filesystem::path(o.input).stem().string();
  std::vector<uint8_t> picture, png;
  for (uint32_t frame : frames) {
    const ClockMs t = clock.FrameTime(frame);
    const std::string name = (std::filesystem::path(o.outDir) / (stem + "_" + FileTimeStamp(t, zone) + ".png")).string();
    struct stat st {};
    if (!o.overwrite && ::lstat(name.c_str(), &st) == 0) {
      err << "zentrova: " << Printable(name) << " exists; -y replaces it\n";
      status = kExitFailed;
      continue;
    }
    const Expected<void> made = StillOf(stills, *timed.reader, clock, t, picture, png);
    if (!made) {
      err << "zentrova: frame " << frame << ": " << made.reason() << "\n";
      status = kExitFailed;
      continue;
    }
    const std::string temporary = name + ".part";
    {
      std::ofstream file(temporary, std::ios::binary);
      file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
      if (!file.flush()) {
        err << "zentrova: cannot write " << Printable(name) << "\n";
        std::filesystem::remove(temporary, ec);
        status = kExitFailed;
        continue;
      }
    }
    std::filesystem::rename(temporary, name, ec);
    if (ec) {
      err << "zentrova: cannot write " << Printable(name) << ": " << ec.message() << "\n";
      status = kExitFailed;
      continue;
    }
    out << Printable(name) << ": frame " << frame << ", " << RecorderTimeText(t, zone) << "\n";
  }
  return status;
}

}  // namespace zentrova::cli
