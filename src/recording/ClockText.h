#pragma once
// Clock times as people read and type them: ISO 8601 with milliseconds, in UTC or in the
// recorder's own time (UTC plus its offset), and the times a user gives to cut a clip: a clock
// time with its date, or a position in the recording.
#include <cstdint>
#include <optional>
#include <string>

#include "base/Expected.h"

#include "recording/RecordingClock.h"

namespace zentrova {

// "2008-01-10T02:14:05.040Z"
std::string IsoUtcMs(ClockMs t);
// "2008-01-10T10:14:05.040+08:00": the recorder's time, with its offset.
std::string IsoRecorderMs(ClockMs t, int32_t utcOffsetHours);
// "2008-01-10 10:14:05 recorder time (UTC+8)"
std::string RecorderTimeText(ClockMs t, int32_t utcOffsetHours);
// "2008-01-10 10:14:05.040 (UTC+8)": a frame's time as subtitles and burnt-in text show it.
std::string ClockCueText(ClockMs t, int32_t utcOffsetHours);
// "UTC+8", "UTC-4", "UTC"
std::string UtcOffsetText(int32_t utcOffsetHours);
// A length: "0.500 s", "12:03.250", "1:02:03.000".
std::string LengthText(int64_t ms);
// For file names, in recorder time, without colons: "2008-01-10T10-14-05.040".
std::string FileTimeStamp(ClockMs t, int32_t utcOffsetHours);
// "00:01:23,450" for a SubRip cue.
std::string SubRipTime(int64_t ms);

// A time a user gave. A clock time always carries its date: "2008-01-10T02:14:05" or
// "2008-01-10 02:14:05" (seconds and their fraction optional) in the recorder's time, or with a
// trailing "Z" (UTC) or "+hh:mm" / "-hh:mm" (that offset). A position counts from the
// recording's first frame: "1:23:45.5", "83:20", "90s", "90".
struct TimeArgument {
  enum class Kind { Clock, Position };
  Kind kind = Kind::Position;
  int64_t ms = 0;            // Position: milliseconds; Clock: the wall time read as if UTC
  bool zoned = false;        // Clock: the text named its offset
  int32_t zoneMinutes = 0;   // Clock: that offset, east of UTC

  // The time, or what is wrong with the text.
  static Expected<TimeArgument> Parse(const std::string& text);
  // A length (--duration, --every): a position.
  static Expected<int64_t> ParseLength(const std::string& text);

  // The moment meant, on the recording's (corrected) clock.
  ClockMs Resolve(RecordingClock& clock) const;
};

}  // namespace zentrova
