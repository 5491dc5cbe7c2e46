#pragma once
// What `info` says of a recording's clock: when it starts and ends, in UTC and in the recorder's
// time, its pauses, and with --frames the time of every frame.
#include <cstdint>
#include <ostream>
#include <string>

#include "recording/RecordingClock.h"
#include "recording/ZrReader.h"

namespace zentrova::cli {

// --clock-offset in milliseconds.
int64_t ClockOffsetMs(double seconds);

// Lines in the layout of `info` ("start:            ..."), ending in a line feed.
std::string TimelineText(RecordingClock& clock);
// {"start": ..., "gaps": [...]} for the recording's object.
std::string TimelineJson(RecordingClock& clock);
// A line, or a JSON object, per frame; false when standard output failed.
void PrintFrames(ZrReader& reader, RecordingClock& clock, const std::string& input, bool json, std::ostream& out);

}  // namespace zentrova::cli
