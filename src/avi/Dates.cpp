#include "avi/Dates.h"

#include <cstdio>

namespace zentrova::avi {
namespace {

// Civil date of a day count since 1970-01-01 (proleptic Gregorian), for any 64-bit time the
// recording's 32-bit fields can give; no dependence on the C library's range of time_t.
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

struct Civil {
  int64_t year;
  unsigned month, day, hour, minute, second, weekday;  // weekday 0 = Sunday
};

Civil CivilOf(int64_t t) {
  const int64_t days = (t >= 0 ? t : t - 86399) / 86400;
  const int64_t rest = t - days * 86400;
  Civil c{};
  CivilFromDays(days, &c.year, &c.month, &c.day);
  c.hour = static_cast<unsigned>(rest / 3600);
  c.minute = static_cast<unsigned>(rest / 60 % 60);
  c.second = static_cast<unsigned>(rest % 60);
  c.weekday = static_cast<unsigned>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  return c;
}

}  // namespace

std::string IsoUtc(int64_t t) {
  const Civil c = CivilOf(t);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(c.year), c.month, c.day,
                c.hour, c.minute, c.second);
  return buf;
}

std::string AviDate(int64_t t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const Civil c = CivilOf(t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %s %2u %02u:%02u:%02u %lld", kDays[c.weekday], kMonths[c.month - 1], c.day, c.hour,
                c.minute, c.second, static_cast<long long>(c.year));
  return buf;
}

}  // namespace zentrova::avi
