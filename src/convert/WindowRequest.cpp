#include "convert/WindowRequest.h"

namespace zentrova {

Expected<void> ParseWindowRequest(const WindowTexts& t, WindowRequest& request) {
  request = WindowRequest{};
  if (!t.from.empty()) {
    Expected<TimeArgument> from = TimeArgument::Parse(t.from);
    if (!from) return Failure(t.fromName + ": " + from.reason());
    request.from = *from;
  }
  if (!t.to.empty()) {
    Expected<TimeArgument> to = TimeArgument::Parse(t.to);
    if (!to) return Failure(t.toName + ": " + to.reason());
    request.to = *to;
  }
  if (!t.duration.empty()) {
    Expected<int64_t> duration = TimeArgument::ParseLength(t.duration);
    if (!duration) return Failure(t.durationName + ": " + duration.reason());
    if (*duration <= 0) return Failure(t.durationName + ": the window must last longer than 0 s");
    request.durationMs = *duration;
  }
  // Two times of the same kind can be compared before any recording is read.
  if (request.from && request.to && request.from->kind == request.to->kind && request.from->zoned == request.to->zoned &&
      request.from->zoneMinutes == request.to->zoneMinutes && request.to->ms <= request.from->ms) {
    return Failure(t.toName + " (" + t.to + ") is not after " + t.fromName + " (" + t.from + ")");
  }
  return {};
}

WindowPlacement PlaceWindow(const WindowRequest& request, ZrReader& reader, RecordingClock& clock,
                            std::optional<FrameWindow>& window) {
  window.reset();
  ClockMs from = request.from ? request.from->Resolve(clock) : clock.start();
  ClockMs to = request.to ? request.to->Resolve(clock) : clock.end();
  // Likewise a --to alone before the start.
  if (to <= from && !request.from && request.to) from = to - 1;
  if (request.durationMs) to = from + *request.durationMs;
  // A --from alone past the end is a window outside the recording, not one that ends too soon.
  if (to <= from && !request.to && !request.durationMs) to = from + 1;
  if (to <= from)
    return {WindowFit::Invalid, "the window ends (" + RecorderTimeText(to, clock.utcOffsetHours()) +
                                    ") before it begins (" + RecorderTimeText(from, clock.utcOffsetHours()) + ")"};
  Expected<FrameWindow> found = FindFrameWindow(reader, clock, from, to);
  if (!found) return {WindowFit::Outside, found.reason()};
  window = *found;
  return {};
}

}  // namespace zentrova
