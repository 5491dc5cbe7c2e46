#pragma once
// The updating progress line drawn on a terminal: frames done of the total, percent, frames per
// second, speed against real time, elapsed time and ETA; for a batch also the files and the one
// in work. Nothing is drawn unless the line is enabled (standard error is a terminal).
#include <cstdint>
#include <ostream>
#include <string>

namespace zentrova::cli {

struct ProgressFigures {
  uint64_t framesDone = 0;
  uint64_t framesTotal = 0;
  double videoSeconds = 0;  // seconds of recording converted so far
  double elapsed = 0;       // wall-clock seconds
  // A batch: files finished of the files to convert, and the name in work ("" for one file).
  bool batch = false;
  uint32_t filesDone = 0;
  uint32_t filesTotal = 0;
  std::string current;
};

// "0:07", "12:05", "1:02:03".
std::string ClockText(double seconds);

// The line's text, without the carriage return, at most `width` bytes: a file name too long for
// the line is shown without its folders, then shortened from the front, then left out.
std::string ProgressText(const ProgressFigures& f, size_t width = 1000);

// The line left on a terminal when a conversion ends: "250 frames, 0:10 of video in 0:02 (4.8x), 1.2 MB".
std::string StatsText(uint64_t frames, double videoSeconds, double elapsed, uint64_t bytes);

class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled);
  bool enabled() const { return enabled_; }
  // The columns the line may fill.
  size_t width() const { return width_ - 1; }
  // Replaces the line on screen with `text`, cut to the terminal's width.
  void Draw(const std::string& text);
  // Removes the line, so that other output starts at the left edge.
  void Clear();

 private:
  std::ostream& err_;
  bool enabled_;
  bool shown_ = false;
  size_t width_ = 80;
};

}  // namespace zentrova::cli
