#include "cli/TimeWindow.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace zentrova::cli {
namespace {

// Milliseconds of output time of frame k at num/den frames a second.
int64_t OutputTimeMs(uint64_t k, const FrameRate& rate) {
  if (rate.num == 0) return 0;
  return static_cast<int64_t>(static_cast<unsigned __int128>(k) * rate.den * 1000 / rate.num);
}

std::string OutputTimeText(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return buf;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

// Writes through a temporary file beside `path`, renamed over it once whole.
template <typename Body>
bool WriteWhole(const std::string& path, std::string* error, Body body) {
  const std::string temporary = path + ".zentrova-" + std::to_string(::getpid()) + ".tmp";
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temporary.c_str(), "wb"));
  auto fail = [&](int err) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(err);
    file.reset();
    std::remove(temporary.c_str());
    return false;
  };
  if (!file) return fail(errno);
  body(file.get());
  if (std::ferror(file.get()) || std::fflush(file.get()) != 0) return fail(errno ? errno : EIO);
  if (std::fclose(file.release()) != 0) return fail(errno);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
  return true;
}

}  // namespace

uint64_t WrittenFrames::PictureOf(uint64_t k) const {
  uint64_t picture = k;
  for (const PictureRepeat& r : repeats)
    if (r.beforeFrame <= k) picture += r.count;
  return picture;
}

bool ParseWindowRequest(const TimeOptions& o, WindowRequest& request, std::string* error) {
  request = WindowRequest{};
  if (!o.from.empty() && !(request.from = TimeArgument::Parse(o.from, error))) {
    if (error) *error = "--from: " + *error;
    return false;
  }
  if (!o.to.empty() && !(request.to = TimeArgument::Parse(o.to, error))) {
    if (error) *error = "--to: " + *error;
    return false;
  }
  if (!o.duration.empty()) {
    request.durationMs = TimeArgument::ParseLength(o.duration, error);
    if (!request.durationMs) {
      if (error) *error = "--duration: " + *error;
      return false;
    }
    if (*request.durationMs <= 0) {
      if (error) *error = "--duration: the window must last longer than 0 s";
      return false;
    }
  }
  // Two times of the same kind can be compared before any recording is read.
  if (request.from && request.to && request.from->kind == request.to->kind && request.from->zoned == request.to->zoned &&
      request.from->zoneMinutes == request.to->zoneMinutes && request.to->ms <= request.from->ms) {
    if (error) *error = "--to (" + o.to + ") is not after --from (" + o.from + ")";
    return false;
  }
  return true;
}

WindowFit PlaceWindow(const WindowRequest& request, ZrReader& reader, RecordingClock& clock,
                      std::optional<FrameWindow>& window, std::string* why) {
  window.reset();
  ClockMs from = request.from ? request.from->Resolve(clock) : clock.start();
  ClockMs to = request.to ? request.to->Resolve(clock) : clock.end();
  // Likewise a --to alone before the start.
  if (to <= from && !request.from && request.to) from = to - 1;
  if (request.durationMs) to = from + *request.durationMs;
  // A --from alone past the end is a window outside the recording, not one that ends too soon.
  if (to <= from && !request.to && !request.durationMs) to = from + 1;
  if (to <= from) {
    if (why)
      *why = "the window ends (" + RecorderTimeText(to, clock.utcOffsetHours()) + ") before it begins (" +
             RecorderTimeText(from, clock.utcOffsetHours()) + ")";
    return WindowFit::Invalid;
  }
  window = FindFrameWindow(reader, clock, from, to, why);
  return window ? WindowFit::Fits : WindowFit::Outside;
}

bool WriteFrameTimes(const std::string& path, RecordingClock& clock, const WrittenFrames& frames, std::string* error) {
  const int32_t zone = clock.utcOffsetHours();
  return WriteWhole(path, error, [&](std::FILE* f) {
    std::fprintf(f, "frame,recording_frame,output_seconds,utc,recorder_time\n");
    for (uint32_t k = 0; k < frames.count; ++k) {
      const ClockMs t = clock.FrameTime(frames.first + k);
      std::fprintf(f, "%u,%u,%s,%s,%s\n", k, frames.first + k, OutputTimeText(OutputTimeMs(frames.PictureOf(k), frames.rate)).c_str(),
                   IsoUtcMs(t).c_str(), IsoRecorderMs(t, zone).c_str());
    }
  });
}

bool WriteSubRip(const std::string& path, RecordingClock& clock, const WrittenFrames& frames, std::string* error) {
  const int32_t zone = clock.utcOffsetHours();
  return WriteWhole(path, error, [&](std::FILE* f) {
    for (uint32_t k = 0; k < frames.count; ++k) {
      const ClockMs t = clock.FrameTime(frames.first + k);
      // The recorder's own time, as its on-screen clock showed it, with the milliseconds.
      std::fprintf(f, "%u\n%s --> %s\n%s\n\n", k + 1, SubRipTime(OutputTimeMs(frames.PictureOf(k), frames.rate)).c_str(),
                   SubRipTime(OutputTimeMs(frames.PictureOf(k + 1), frames.rate)).c_str(), ClockCueText(t, zone).c_str());
    }
  });
}

std::string SubRipNameFor(const std::string& output) {
  std::filesystem::path p(output);
  p.replace_extension(".srt");
  return p.string();
}

}  // namespace zentrova::cli
