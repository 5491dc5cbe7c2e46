#pragma once
// A part of a recording asked for by time (convert --from/--to/--duration, the desktop dialog's
// "only part"): the times as typed, checked once, then placed on a recording's clock.
#include <cstdint>
#include <optional>
#include <string>

#include "convert/FrameWindow.h"
#include "recording/ClockText.h"
#include "recording/RecordingClock.h"

namespace zentrova {

class ZrReader;

struct WindowRequest {
  std::optional<TimeArgument> from, to;
  std::optional<int64_t> durationMs;
};

// The texts of from, to and duration, each empty when not given. Refused ("--from: ..." with the
// names given) when a time is malformed or the window is empty by itself.
struct WindowTexts {
  std::string from, to, duration;
  std::string fromName = "--from", toName = "--to", durationName = "--duration";
};
Expected<void> ParseWindowRequest(const WindowTexts& texts, WindowRequest& request);

enum class WindowFit {
  Fits,     // `window` holds the frames
  Outside,  // no frame of the recording lies in the window; `why` says where it lies
  Invalid,  // the window ends before it begins on this recording's clock (a usage error)
};
// How the window lies on one recording; `why` is set unless it fits. Neither Outside nor Invalid
// is a failure of the program: the callers tell the user and skip or stop.
struct WindowPlacement {
  WindowFit fit = WindowFit::Fits;
  std::string why;
};
WindowPlacement PlaceWindow(const WindowRequest& request, ZrReader& reader, RecordingClock& clock,
                            std::optional<FrameWindow>& window);

}  // namespace zentrova
