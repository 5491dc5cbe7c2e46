// convert INPUT... OUTPUT --join: recordings of one camera into one output in time order. Each
// recording is placed on its own clock. In an AVI file the pause between two of them becomes
// repeats of the last picture (and silence); a Matroska or MP4 file gives the pictures after it
// their own time, so the pause stays a pause. A line per pause says which. With --from/--to only
// the frames inside the window are written, whichever files they lie in.
#include <algorithm>
#include <memory>
#include <vector>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Signals.h"
#include "cli/TimeWindow.h"
#include "cli/Timeline.h"
#include "recording/ClockText.h"
#include "recording/TimedRecording.h"
#include "recording/ZrFormat.h"

namespace zentrova::cli {
namespace {

struct Piece {
  std::string path;
  TimedRecording timed;
  std::optional<FrameWindow> window;  // set when --from/--to cut it
  uint32_t first = 0, end = 0;        // the frames written of it
};

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return Printable(slash == std::string::npos ? path : path.substr(slash + 1));
}

// The recordings' frames among the pictures the output holds: an AVI file's pictures count the
// repeats before each joined recording too, and a file that ended early holds only some of them.
WrittenFrames WrittenOfJoined(const JobOptions& options, const ConversionJob::LoopResult& loop, FrameRate rate) {
  WrittenFrames written;
  written.rate = rate;
  const uint32_t ownFrames = options.window ? options.window->frames() : options.clock->frameCount();
  uint64_t left = loop.framesWritten;
  auto take = [&](uint64_t n) {
    const uint64_t got = std::min(left, n);
    left -= got;
    return static_cast<uint32_t>(got);
  };
  written.count = take(ownFrames);
  for (const JoinedRecording& j : options.joined) {
    if (const uint32_t r = take(j.repeatsBefore); r > 0) written.repeats.push_back({written.count, r});
    written.count += take(j.frames);
  }
  written.timeline = JoinedTimeline::OfJob(options.clock, options.window, ownFrames, options.joined);
  return written;
}

}  // namespace

int RunConvertJoined(const Invocation& how, JobOptions options, std::ostream& out, std::ostream& err) {
  const ConvertOptions& c = how.convert;
  const TimeOptions& t = c.time;
  const std::string& output = c.inputs.back();
  std::ostream& log = how.output.json ? err : out;
  const bool quiet = how.output.quiet;
  WindowRequest request;
  if (auto parsed = ParseWindowRequest(t, request); !parsed) {
    err << "zentrova: " << parsed.reason() << std::endl;
    return kExitUsage;
  }
  // The repeats that fill an AVI file's pauses are placed between the recordings only.
  if (t.timing == "recorded" && options.format == container::Format::Avi) {
    err << "zentrova: --timing recorded does not combine with --join into an AVI file yet (a Matroska or MP4 "
           "output keeps every pause)"
        << std::endl;
    return kExitUsage;
  }

  std::vector<std::unique_ptr<Piece>> pieces;
  for (size_t i = 0; i + 1 < c.inputs.size(); ++i) {
    auto piece = std::make_unique<Piece>();
    piece->path = c.inputs[i];
    if (auto opened = piece->timed.Open(piece->path, ClockOffsetMs(t.clockOffsetSeconds), &Cancel().stop); !opened) {
      if (Cancel().stop.load()) return kExitCancelled;
      if (!quiet) out << "File open failed!" << std::endl;
      err << "zentrova: " << Printable(opened.reason()) << "; nothing was written" << std::endl;
      return kExitFailed;
    }
    pieces.push_back(std::move(piece));
  }

  // One camera: the job decodes every recording with the decoders set up for the first.
  const Piece& model = *pieces.front();  // until the pieces are sorted and sifted
  const int32_t width = model.timed.info.width, height = model.timed.info.height;
  for (const auto& p : pieces) {
    const RecordingInfo& a = model.timed.info;
    const RecordingInfo& b = p->timed.info;
    if (a.width != b.width || a.height != b.height) {
      err << "zentrova: " << Printable(p->path) << " holds pictures of " << b.width << " x " << b.height << ", "
          << Printable(model.path) << " of " << a.width << " x " << a.height
          << ": --join takes recordings of one camera, whose pictures are all of one size" << std::endl;
      return kExitUsage;
    }
    if (GenerationOfVersion(p->timed.reader->version()) != GenerationOfVersion(model.timed.reader->version())) {
      err << "zentrova: " << Printable(p->path) << " and " << Printable(model.path)
          << " come from recorders of different generations: --join takes recordings of one camera" << std::endl;
      return kExitUsage;
    }
  }

  std::stable_sort(pieces.begin(), pieces.end(),
                   [](const auto& a, const auto& b) { return a->timed.clock->start() < b->timed.clock->start(); });
  for (size_t i = 1; i < pieces.size(); ++i) {
    RecordingClock& before = *pieces[i - 1]->timed.clock;
    RecordingClock& after = *pieces[i]->timed.clock;
    if (after.start() >= before.end()) continue;
    err << "zentrova: " << Printable(pieces[i - 1]->path) << " (until "
        << RecorderTimeText(before.end(), before.utcOffsetHours()) << ") and " << Printable(pieces[i]->path)
        << " (from " << RecorderTimeText(after.start(), after.utcOffsetHours())
        << ") overlap: --join takes recordings that follow one another" << std::endl;
    return kExitUsage;
  }

  // A window is placed on the joined recordings' time: positions count from the first frame of
  // the earliest one.
  RecordingClock& earliest = *pieces.front()->timed.clock;
  const int32_t zone = earliest.utcOffsetHours();
  if (t.windowed()) {
    ClockMs from = request.from ? request.from->Resolve(earliest) : earliest.start();
    ClockMs to = request.to ? request.to->Resolve(earliest) : pieces.back()->timed.clock->end();
    if (to <= from && !request.from && request.to) from = to - 1;
    if (request.durationMs) to = from + *request.durationMs;
    if (to <= from && !request.to && !request.durationMs) to = from + 1;
    if (to <= from) {
      err << "zentrova: the window ends (" << RecorderTimeText(to, zone) << ") before it begins ("
          << RecorderTimeText(from, zone) << ")" << std::endl;
      return kExitUsage;
    }
    std::vector<std::unique_ptr<Piece>> inside;
    for (auto& p : pieces) {
      Expected<FrameWindow> found = FindFrameWindow(*p->timed.reader, *p->timed.clock, from, to);
      if (found) {
        p->window = *found;
        inside.push_back(std::move(p));
      } else if (!quiet) {
        log << NameOf(p->path) << " lies outside the window and is left out." << std::endl;
      }
    }
    if (inside.empty()) {
      err << "zentrova: nothing to convert: no recording has frames from " << RecorderTimeText(from, zone) << " to "
          << RecorderTimeText(to, zone) << "; nothing was written" << std::endl;
      return kExitFailed;
    }
    pieces = std::move(inside);
  }
  std::vector<std::unique_ptr<Piece>> withFrames;
  for (auto& p : pieces) {
    p->first = p->window ? p->window->first : 0;
    p->end = p->window ? p->window->end : static_cast<uint32_t>(std::max(0, p->timed.reader->frameCount()));
    if (p->end > p->first) {
      withFrames.push_back(std::move(p));
    } else if (!quiet) {
      log << NameOf(p->path) << " holds no frames and is left out." << std::endl;
    }
  }
  if (withFrames.empty()) {
    err << "zentrova: nothing to convert: the recordings hold no frames; nothing was written" << std::endl;
    return kExitFailed;
  }
  pieces = std::move(withFrames);

  // An AVI file has one rate: its repeats last as long as one frame of the first recording.
  const bool repeats = options.format == container::Format::Avi;
  const int64_t interval = std::max<int64_t>(1, pieces.front()->timed.clock->frameInterval());
  if (!quiet && pieces.size() == 1) log << "Only " << NameOf(pieces.front()->path) << " has frames to convert." << std::endl;
  if (!quiet && pieces.size() > 1 && repeats) {
    log << "Joining " << pieces.size() << " recordings of " << width << " x " << height << " in time order; the pauses between them are filled with repeats of the last "
        << "picture and silence, so the output keeps the recorder's time" << std::endl;
  } else if (!quiet && pieces.size() > 1) {
    log << "Joining " << pieces.size() << " recordings of " << width << " x " << height
        << " in time order; the pauses between them stay pauses, the pictures after each carrying their own time"
        << std::endl;
  }
  options.window = pieces.front()->window;
  options.clock = pieces.front()->timed.clock.get();
  options.timing = t.timing == "recorded" ? OutputTiming::Recorded : OutputTiming::Rate;
  options.clockTrack = !t.noSubtitles;
  options.joined.clear();
  for (size_t i = 1; i < pieces.size(); ++i) {
    const Piece& before = *pieces[i - 1];
    const Piece& after = *pieces[i];
    RecordingClock& a = *before.timed.clock;
    RecordingClock& b = *after.timed.clock;
    const ClockMs gapFrom = a.FrameTime(before.end - 1) + a.FrameDuration(before.end - 1);
    const ClockMs gapTo = b.FrameTime(after.first);
    const int64_t gap = std::max<int64_t>(0, gapTo - gapFrom);
    JoinedRecording joined;
    joined.path = after.path;
    joined.window = after.window;
    joined.frames = after.end - after.first;
    joined.clock = after.timed.clock.get();
    if (repeats) {
      joined.repeatsBefore = static_cast<uint32_t>(std::min<int64_t>((gap + interval / 2) / interval, INT32_MAX));
      joined.silencePerRepeat = static_cast<uint32_t>(interval * 8);
    }
    if (!quiet && repeats)
      log << "Gap of " << LengthText(gap) << " between " << NameOf(before.path) << " and " << NameOf(after.path)
          << " filled with " << joined.repeatsBefore << " repeats of the last picture." << std::endl;
    else if (!quiet)
      log << "Gap of " << LengthText(gap) << " between " << NameOf(before.path) << " and " << NameOf(after.path)
          << " kept: its pictures and sound start at their own time." << std::endl;
    options.joined.push_back(std::move(joined));
  }
  if (!quiet && t.windowed())
    for (const auto& p : pieces)
      log << NameOf(p->path) << ": frames " << p->first << " to " << p->end - 1 << " of "
          << p->timed.clock->frameCount() << ", " << RecorderTimeText(p->timed.clock->FrameTime(p->first), zone)
          << " to "
          << RecorderTimeText(p->timed.clock->FrameTime(p->end - 1) + p->timed.clock->FrameDuration(p->end - 1), zone)
          << "." << std::endl;

  // The job opens each recording itself, one at a time; the clocks stay open for the output's
  // times and subtitles.
  return ConvertWithClockFiles(how, options, pieces.front()->path, output, out, err, nullptr,
                               [&](const ConversionJob::LoopResult& loop, FrameRate rate) {
                                 if (!quiet && loop.framesWritten > 0 && repeats && !options.joined.empty())
                                   log << loop.gapRepeats << " of the " << loop.framesWritten
                                       << " frames written repeat the last picture across "
                                       << "the pauses between the recordings." << std::endl;
                                 return WrittenOfJoined(options, loop, rate);
                               });
}

}  // namespace zentrova::cli
