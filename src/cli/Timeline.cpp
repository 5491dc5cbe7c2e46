#include "cli/Timeline.h"

#include <cmath>
#include <cstdio>

#include "cli/Json.h"
#include "recording/ClockText.h"
#include "recording/FrameSummary.h"

namespace zentrova::cli {

int64_t ClockOffsetMs(double seconds) { return std::llround(seconds * 1000.0); }

std::string TimelineText(RecordingClock& clock) {
  const int32_t zone = clock.utcOffsetHours();
  const ClockMs start = clock.start(), end = clock.end();
  std::string text;
  text += "clock:            " +
          (clock.fromTicks() ? std::string("the recorder's ticks")
                             : "frames spread evenly from start to end: " + clock.fallbackReason()) +
          "\n";
  if (clock.offsetMs() != 0) text += "clock offset:     " + LengthText(clock.offsetMs()) + " added\n";
  text += "first frame:      " + IsoUtcMs(start) + ", " + RecorderTimeText(start, zone) + "\n";
  text += "last frame ends:  " + IsoUtcMs(end) + ", " + RecorderTimeText(end, zone) + "\n";
  text += "recorded span:    " + LengthText(end - start) + "\n";
  const std::vector<ClockGap> gaps = clock.Gaps();
  text += "gaps:             " + std::to_string(gaps.size()) + "\n";
  for (const ClockGap& g : gaps)
    text += "gap:              " + IsoUtcMs(g.from) + " to " + IsoUtcMs(g.to) + " (" + LengthText(g.length()) +
            "), before frame " + std::to_string(g.frameAfter) + "\n";
  return text;
}

std::string TimelineJson(RecordingClock& clock) {
  const int32_t zone = clock.utcOffsetHours();
  const ClockMs start = clock.start(), end = clock.end();
  JsonObject json;
  json.Add("clock", clock.fromTicks() ? "ticks" : "even");
  if (!clock.fromTicks()) json.Add("clockReason", clock.fallbackReason());
  json.AddNumber("clockOffsetSeconds", clock.offsetMs() / 1000.0, 3)
      .Add("start", IsoUtcMs(start))
      .Add("startRecorderTime", IsoRecorderMs(start, zone))
      .Add("end", IsoUtcMs(end))
      .Add("endRecorderTime", IsoRecorderMs(end, zone))
      .Add("utcOffsetHours", zone)
      .AddNumber("spanSeconds", (end - start) / 1000.0, 3);
  std::string list = "[";
  for (const ClockGap& g : clock.Gaps()) {
    JsonObject gap;
    gap.Add("from", IsoUtcMs(g.from))
        .Add("to", IsoUtcMs(g.to))
        .AddNumber("seconds", g.length() / 1000.0, 3)
        .Add("frameAfter", g.frameAfter);
    list += (list.size() > 1 ? ", " : "") + gap.Text();
  }
  json.AddRaw("gaps", list + "]");
  return json.Text();
}

void PrintFrames(ZrReader& reader, RecordingClock& clock, const std::string& input, bool json, std::ostream& out) {
  const int32_t zone = clock.utcOffsetHours();
  for (uint32_t block = 0; block < reader.blocks().size() && out; ++block) {
    const uint32_t first = reader.blocks()[block].firstFrame;
    const std::vector<FrameSummary> frames = ReadBlockSummaries(reader, block);
    for (uint32_t i = 0; i < frames.size(); ++i) {
      const FrameSummary& f = frames[i];
      const uint32_t index = first + i;
      const ClockMs t = clock.FrameTime(index);
      if (json) {
        out << JsonObject()
                   .AddPath("input", input)
                   .Add("frame", index)
                   .Add("time", IsoUtcMs(t))
                   .Add("recorderTime", IsoRecorderMs(t, zone))
                   .Add("picture", PictureKindName(f.picture))
                   .Add("videoBytes", f.videoBytes)
                   .Add("audioBytes", f.audioBytes)
                   .Text()
            << "\n";
        continue;
      }
      char line[160];
      std::snprintf(line, sizeof line, "frame %7u  %s  %s  %-5s  video %7u  audio %6u\n", index, IsoUtcMs(t).c_str(),
                    IsoRecorderMs(t, zone).c_str(), PictureKindName(f.picture), f.videoBytes, f.audioBytes);
      out << line;
    }
  }
}

}  // namespace zentrova::cli
