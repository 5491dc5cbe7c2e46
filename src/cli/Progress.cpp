#include "cli/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace zentrova::cli {

std::string ClockText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "-";
  const auto total = static_cast<uint64_t>(seconds + 0.5);
  char buf[32];
  if (total >= 3600)
    std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", static_cast<unsigned long long>(total / 3600),
                  static_cast<unsigned long long>(total / 60 % 60), static_cast<unsigned long long>(total % 60));
  else
    std::snprintf(buf, sizeof buf, "%llu:%02llu", static_cast<unsigned long long>(total / 60),
                  static_cast<unsigned long long>(total % 60));
  return buf;
}

std::string ProgressText(const ProgressFigures& f, size_t width) {
  char buf[256];
  std::string text;
  if (f.batch) {
    std::snprintf(buf, sizeof buf, "[%u/%u] ", f.filesDone, f.filesTotal);
    text += buf;
  }
  const double percent = f.framesTotal ? 100.0 * static_cast<double>(f.framesDone) / f.framesTotal : 0;
  const double fps = f.elapsed > 0 ? static_cast<double>(f.framesDone) / f.elapsed : 0;
  const double speed = f.elapsed > 0 ? f.videoSeconds / f.elapsed : 0;
  const double eta = fps > 0 && f.framesTotal >= f.framesDone ? (f.framesTotal - f.framesDone) / fps : -1;
  std::snprintf(buf, sizeof buf, "frame %llu/%llu %.1f%% %.0f fps %.1fx time %s ETA %s",
                static_cast<unsigned long long>(f.framesDone), static_cast<unsigned long long>(f.framesTotal),
                percent, fps, speed, ClockText(f.elapsed).c_str(), ClockText(eta).c_str());
  text += buf;
  if (!f.current.empty() && text.size() + 2 < width) {
    const size_t room = width - text.size() - 2;
    const size_t slash = f.current.rfind('/');
    const std::string base = slash == std::string::npos ? f.current : f.current.substr(slash + 1);
    if (f.current.size() <= room) text += "  " + f.current;
    else if (base.size() <= room) text += "  " + base;
    else if (room >= 12) text += "  ..." + base.substr(base.size() - (room - 3));
  }
  return text;
}

std::string StatsText(uint64_t frames, double videoSeconds, double elapsed, uint64_t bytes) {
  char size[32];
  if (bytes >= 1000 * 1000 * 1000)
    std::snprintf(size, sizeof size, "%.2f GB", static_cast<double>(bytes) / 1e9);
  else if (bytes >= 1000 * 1000)
    std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(bytes) / 1e6);
  else
    std::snprintf(size, sizeof size, "%.0f kB", static_cast<double>(bytes) / 1e3);
  char buf[160];
  std::snprintf(buf, sizeof buf, "%llu frames, %s of video in %s (%.1fx), %s", static_cast<unsigned long long>(frames),
                ClockText(videoSeconds).c_str(), ClockText(elapsed).c_str(), elapsed > 0 ? videoSeconds / elapsed : 0.0,
                size);
  return buf;
}

ProgressLine::ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {
  struct winsize ws {};
  if (enabled_ && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) width_ = ws.ws_col;
}

void ProgressLine::Draw(const std::string& text) {
  if (!enabled_) return;
  // One column short of the width, so the cursor never wraps to a new line.
  const std::string shown = text.substr(0, width_ - 1);
  err_ << "\r" << shown << "\033[K" << std::flush;
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!enabled_ || !shown_) return;
  err_ << "\r\033[K" << std::flush;
  shown_ = false;
}

}  // namespace zentrova::cli
