#include "app/ProgressText.h"

#include <algorithm>

namespace zentrova::app {
namespace {

constexpr int64_t kPaceKnownMs = 500;

QString Duration(int64_t seconds) {
  const int64_t hours = seconds / 3600;
  const int64_t minutes = seconds / 60 % 60;
  const int64_t rest = seconds % 60;
  if (hours > 0) return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(rest, 2, 10, QLatin1Char('0'));
  return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
}

}  // namespace

int PercentDone(uint32_t done, uint32_t total) {
  if (total == 0) return 0;
  return static_cast<int>(uint64_t{std::min(done, total)} * 100 / total);
}

QString ProgressText(uint32_t done, uint32_t total, int64_t elapsedMs) {
  const QString percent = QStringLiteral("%1%").arg(PercentDone(done, total));
  if (done == 0 || done >= total || elapsedMs < kPaceKnownMs) return percent;
  // Rounded up, so the last second shows "0:01 left" rather than "0:00".
  const uint64_t leftMs = (static_cast<uint64_t>(elapsedMs) * (total - done) + done - 1) / done;
  return percent + QStringLiteral(" - %1 left").arg(Duration(static_cast<int64_t>((leftMs + 999) / 1000)));
}

}  // namespace zentrova::app
