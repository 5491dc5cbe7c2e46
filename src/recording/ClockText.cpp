#include "recording/ClockText.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace zentrova {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

struct Parts {
  std::tm tm{};
  int ms = 0;
};

Parts Split(ClockMs t) {
  Parts p;
  const int64_t seconds = FloorDiv(t, 1000);
  p.ms = static_cast<int>(t - seconds * 1000);
  const auto s = static_cast<time_t>(seconds);
  gmtime_r(&s, &p.tm);
  return p;
}

std::string Format(ClockMs t, const char* dateTimeSeparator, char timeSeparator, bool withMs) {
  const Parts p = Split(t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d%s%02d%c%02d%c%02d", p.tm.tm_year + 1900, p.tm.tm_mon + 1,
                p.tm.tm_mday, dateTimeSeparator, p.tm.tm_hour, timeSeparator, p.tm.tm_min, timeSeparator,
                p.tm.tm_sec);
  std::string out = buf;
  if (withMs) {
    std::snprintf(buf, sizeof buf, ".%03d", p.ms);
    out += buf;
  }
  return out;
}

ClockMs Local(ClockMs t, int32_t hours) { return t + int64_t{hours} * 3600 * 1000; }

// Reads digits at `i`: at least `min`, at most `max`.
bool Digits(const std::string& s, size_t& i, size_t min, size_t max, int64_t& value) {
  const size_t from = i;
  value = 0;
  while (i < s.size() && i - from < max && std::isdigit(static_cast<unsigned char>(s[i])))
    value = value * 10 + (s[i++] - '0');
  return i - from >= min;
}

// ".5", ".040": milliseconds, rounded down past the third digit.
bool Fraction(const std::string& s, size_t& i, int64_t& ms) {
  ms = 0;
  if (i >= s.size() || (s[i] != '.' && s[i] != ',')) return true;
  ++i;
  int64_t scale = 100;
  const size_t from = i;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
    ms += (s[i++] - '0') * scale;
    scale /= 10;
  }
  return i > from;
}

}  // namespace

std::string IsoUtcMs(ClockMs t) { return Format(t, "T", ':', true) + "Z"; }

std::string UtcOffsetText(int32_t hours) {
  if (hours == 0) return "UTC";
  return std::string("UTC") + (hours > 0 ? "+" : "-") + std::to_string(hours > 0 ? hours : -hours);
}

std::string IsoRecorderMs(ClockMs t, int32_t hours) {
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:00", hours < 0 ? '-' : '+', hours < 0 ? -hours : hours);
  return Format(Local(t, hours), "T", ':', true) + zone;
}

std::string RecorderTimeText(ClockMs t, int32_t hours) {
  return Format(Local(t, hours), " ", ':', false) + " recorder time (" + UtcOffsetText(hours) + ")";
}

std::string ClockCueText(ClockMs t, int32_t hours) {
  return Format(Local(t, hours), " ", ':', true) + " (" + UtcOffsetText(hours) + ")";
}

std::string LengthText(int64_t ms) {
  const bool negative = ms < 0;
  if (negative) ms = -ms;
  char buf[64];
  const int64_t s = ms / 1000, frac = ms % 1000;
  if (s < 60)
    std::snprintf(buf, sizeof buf, "%lld.%03lld s", static_cast<long long>(s), static_cast<long long>(frac));
  else if (s < 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld.%03lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60),
                  static_cast<long long>(frac));
  else
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60), static_cast<long long>(frac));
  return (negative ? "-" : "") + std::string(buf);
}

std::string FileTimeStamp(ClockMs t, int32_t hours) { return Format(Local(t, hours), "T", '-', true); }

std::string SubRipTime(int64_t ms) {
  if (ms < 0) ms = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld,%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return buf;
}

Expected<int64_t> TimeArgument::ParseLength(const std::string& text) {
  auto bad = [&](const std::string& why) -> Expected<int64_t> {
    return Failure("\"" + text + "\" is not a time: " + why);
  };
  if (text.empty()) return bad("it is empty");
  // H:MM:SS[.f], M:SS[.f], Ns, N (seconds), each with an optional fraction.
  size_t i = 0;
  int64_t fields[3];
  int count = 0;
  int64_t ms = 0;
  for (;;) {
    if (count == 3) return bad("at most hours, minutes and seconds");
    if (!Digits(text, i, 1, 12, fields[count])) return bad("expected a number at \"" + text.substr(i) + "\"");
    ++count;
    if (i < text.size() && text[i] == ':') {
      ++i;
      continue;
    }
    if (!Fraction(text, i, ms)) return bad("a fraction needs digits");
    break;
  }
  if (i < text.size() && text[i] == 's' && count == 1) ++i;
  if (i != text.size()) return bad("unexpected \"" + text.substr(i) + "\"; use 1:23:45.5, 83:20, 90s or 90");
  for (int k = 1; k < count; ++k)
    if (fields[k] >= 60) return bad("minutes and seconds run to 59");
  int64_t seconds = 0;
  for (int k = 0; k < count; ++k) seconds = seconds * 60 + fields[k];
  if (seconds > int64_t{100} * 365 * 24 * 3600) return bad("it is longer than a century");
  return seconds * 1000 + ms;
}

Expected<TimeArgument> TimeArgument::Parse(const std::string& text) {
  TimeArgument a;
  // A clock time starts with its date: four digits and a dash.
  if (text.size() >= 5 && text[4] == '-' && std::isdigit(static_cast<unsigned char>(text[0]))) {
    auto bad = [&](const std::string& why) -> Expected<TimeArgument> {
      return Failure("\"" + text + "\" is not a clock time: " + why +
                     " (write 2008-01-10T02:14:05, 2008-01-10 02:14:05, with Z for UTC or +hh:mm for an offset)");
    };
    size_t i = 0;
    int64_t year, month, day, hour = 0, minute = 0, second = 0, ms = 0;
    if (!Digits(text, i, 4, 4, year) || text[i++] != '-' || !Digits(text, i, 2, 2, month) || i >= text.size() ||
        text[i++] != '-' || !Digits(text, i, 2, 2, day))
      return bad("the date is not YYYY-MM-DD");
    if (i >= text.size() || (text[i] != 'T' && text[i] != ' ')) return bad("the time of day is missing");
    ++i;
    if (!Digits(text, i, 2, 2, hour) || i >= text.size() || text[i++] != ':' || !Digits(text, i, 2, 2, minute))
      return bad("the time is not hh:mm");
    if (i < text.size() && text[i] == ':') {
      ++i;
      if (!Digits(text, i, 2, 2, second) || !Fraction(text, i, ms)) return bad("the seconds are not ss or ss.fff");
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
      return bad("a field is out of range");
    if (i < text.size()) {
      if (text[i] == 'Z' && i + 1 == text.size()) {
        a.zoned = true;
        a.zoneMinutes = 0;
      } else if ((text[i] == '+' || text[i] == '-') && text.size() - i == 6 && text[i + 3] == ':') {
        size_t j = i + 1;
        int64_t zh, zm;
        if (!Digits(text, j, 2, 2, zh) || text[j++] != ':' || !Digits(text, j, 2, 2, zm) || zh > 14 || zm > 59)
          return bad("the offset is not ±hh:mm");
        a.zoned = true;
        a.zoneMinutes = static_cast<int32_t>((zh * 60 + zm) * (text[i] == '-' ? -1 : 1));
      } else {
        return bad("unexpected \"" + text.substr(i) + "\"");
      }
    }
    std::tm tm{};
    tm.tm_year = static_cast<int>(year - 1900);
    tm.tm_mon = static_cast<int>(month - 1);
    tm.tm_mday = static_cast<int>(day);
    tm.tm_hour = static_cast<int>(hour);
    tm.tm_min = static_cast<int>(minute);
    tm.tm_sec = static_cast<int>(second);
    const time_t t = timegm(&tm);
    if (tm.tm_mday != day) return bad("there is no such day");
    a.kind = Kind::Clock;
    a.ms = int64_t{t} * 1000 + ms;
    return a;
  }
  const Expected<int64_t> length = ParseLength(text);
  if (!length) return length.error();
  a.kind = Kind::Position;
  a.ms = *length;
  return a;
}

ClockMs TimeArgument::Resolve(RecordingClock& clock) const {
  if (kind == Kind::Position) return clock.start() + ms;
  const int64_t zone = zoned ? int64_t{zoneMinutes} * 60 * 1000 : int64_t{clock.utcOffsetHours()} * 3600 * 1000;
  return ms - zone;
}

}  // namespace zentrova
