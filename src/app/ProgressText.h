#pragma once
// The text on the progress bar: the share of frames done and, once the pace is known, the time
// left at that pace ("42% - 1:05 left").
#include <QString>
#include <cstdint>

namespace zentrova::app {

// Percent of `total` that `done` is, rounded down, 0 to 100; 0 when there is nothing to do.
int PercentDone(uint32_t done, uint32_t total);

// `elapsedMs` is the time since the frame loop started. The time left is shown once a frame is
// done and half a second has passed, in minutes and seconds (hours too, when it runs longer).
QString ProgressText(uint32_t done, uint32_t total, int64_t elapsedMs);

}  // namespace zentrova::app
