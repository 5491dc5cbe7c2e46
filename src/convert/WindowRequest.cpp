#include "convert/WindowRequest.h"

namespace zentrova {

bool ParseWindowRequest(const WindowTexts& t, WindowRequest& request, std::string* error) {
  request = WindowRequest{};
  if (!t.from.empty() && !(request.from = TimeArgument::Parse(t.from, error))) {
    if (error) *error = t.fromName + ": " + *error;
    return false;
  }
  if (!t.to.empty() && !(request.to = TimeArgument::Parse(t.to, error))) {
    if (error) *error = t.toName + ": " + *error;
    return false;
  }
  if (!t.duration.empty()) {
    request.durationMs = TimeArgument::ParseLength(t.duration, error);
    if (!request.durationMs) {
      if (error) *error = t.durationName + ": " + *error;
      return false;
    }
    if (*request.durationMs <= 0) {
      if (error) *error = t.durationName + ": the window must last longer than 0 s";
      return false;
    }
  }
  // Two times of the same kind can be compared before any recording is read.
  if (request.from && request.to && request.from->kind == request.to->kind && request.from->zoned == request.to->zoned &&
      request.from->zoneMinutes == request.to->zoneMinutes && request.to->ms <= request.from->ms) {
    if (error) *error = t.toName + " (" + t.to + ") is not after " + t.fromName + " (" + t.from + ")";
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

}  // namespace zentrova
