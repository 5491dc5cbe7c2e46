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
Expected<void> WriteWhole(const std::string& path, Body body) {
  const std::string temporary = path + ".zentrova-" + std::to_string(::getpid()) + ".tmp";
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temporary.c_str(), "wb"));
  auto fail = [&](int err) -> Expected<void> {
    const std::string reason = "cannot write " + path + ": " + std::strerror(err);
    file.reset();
    std::remove(temporary.c_str());
    return Failure(reason);
  };
  if (!file) return fail(errno);
  body(file.get());
  if (std::ferror(file.get()) || std::fflush(file.get()) != 0) return fail(errno ? errno : EIO);
  if (std::fclose(file.release()) != 0) return fail(errno);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
  return {};
}

}  // namespace

uint64_t WrittenFrames::PictureOf(uint64_t k) const {
  uint64_t picture = k;
  for (const PictureRepeat& r : repeats)
    if (r.beforeFrame <= k) picture += r.count;
  return picture;
}

Expected<void> ParseWindowRequest(const TimeOptions& o, WindowRequest& request) {
  WindowTexts texts;
  texts.from = o.from;
  texts.to = o.to;
  texts.duration = o.duration;
  return zentrova::ParseWindowRequest(texts, request);
}

Expected<void> WriteFrameTimes(const std::string& path, const WrittenFrames& frames) {
  const int32_t zone = frames.timeline.utcOffsetHours();
  return WriteWhole(path, [&](std::FILE* f) {
    std::fprintf(f, "frame,recording_frame,output_seconds,utc,recorder_time\n");
    for (uint32_t k = 0; k < frames.count; ++k) {
      const ClockMs t = frames.timeline.FrameTime(k);
      std::fprintf(f, "%u,%u,%s,%s,%s\n", k, frames.timeline.RecordingFrame(k), OutputTimeText(OutputTimeMs(frames.PictureOf(k), frames.rate)).c_str(),
                   IsoUtcMs(t).c_str(), IsoRecorderMs(t, zone).c_str());
    }
  });
}

Expected<void> WriteSubRip(const std::string& path, const WrittenFrames& frames) {
  const int32_t zone = frames.timeline.utcOffsetHours();
  return WriteWhole(path, [&](std::FILE* f) {
    for (uint32_t k = 0; k < frames.count; ++k) {
      const ClockMs t = frames.timeline.FrameTime(k);
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
