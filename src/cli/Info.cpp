// info: what opening each recording reports, or which validity rule it breaks.
#include <sys/stat.h>

#include <cstdio>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/RateOption.h"
#include "cli/Signals.h"
#include "cli/Timeline.h"
#include "container/Tags.h"
#include "recording/ZrFormat.h"
#include "recording/TimedRecording.h"
#include "recording/ZrReader.h"

namespace zentrova::cli {
int RunInfo(const Invocation& how, std::ostream& out, std::ostream& err) {
  int status = kExitOk;
  const bool several = how.infoInputs.size() > 1;
  bool first = true;
  for (const std::string& input : how.infoInputs) {
    ZrReader reader;
    reader.setFileErrorSink([&](const std::string& m) { err << "zentrova: " << m << "\n"; });
    RecordingInfo info;
    if (!reader.open(input, &info, 0, 1)) {
      std::string reason = reader.failureReason();
      // A recording whose header is lost is not lost: say what a scan finds in it.
      ScanOptions look;
      look.cancel = &Cancel().stop;
      struct stat named {};
      if (::stat(input.c_str(), &named) == 0 && S_ISREG(named.st_mode)) {
        const ScanResult scan = ScanRecordingFile(input, look);
        uint64_t frames = 0;
        for (const FoundRecording& f : scan.recordings) frames += f.frames;
        if (frames > 0)
          reason += "; a scan finds " + std::to_string(frames) + " frames of " +
                    std::to_string(scan.recordings.size()) + " recording" + (scan.recordings.size() > 1 ? "s" : "") +
                    " in it: zentrova convert --recover converts them";
      }
      err << "zentrova: " << Printable(input) << ": " << reason << "\n";
      if (how.output.json)
        out << JsonObject().AddPath("input", input).Add("status", "failed").Add("reason", reason).Text()
            << "\n";
      status = kExitFailed;
      continue;
    }
    const uint32_t generation = GenerationOfVersion(reader.version());
    const uint32_t duration = static_cast<uint32_t>(reader.endTime()) - static_cast<uint32_t>(reader.startTime());
    const RateReport rate = ReportRate(reader, info);
    const std::vector<std::string> warnings = reader.damageWarnings();
    char gen[16];
    std::snprintf(gen, sizeof gen, "0x%08X", generation);
    const std::unique_ptr<RecordingClock> clock =
        ClockOfReader(reader, ClockOffsetMs(how.convert.time.clockOffsetSeconds));
    if (how.output.json) {
      JsonObject json;
      json.AddPath("input", input)
                 .Add("status", "ok")
                 .Add("version", uint32_t{reader.version()})
                 .Add("codecGeneration", gen)
                 .Add("resolutionCode", uint32_t{reader.resolutionCode()})
                 .Add("width", info.width)
                 .Add("height", info.height)
                 .Add("sizeFamily", info.sizeFamily)
                 .Add("frameCount", reader.frameCount())
                 .Add("blockCount", reader.blockCount())
                 .Add("startTime", Iso8601Utc(reader.startTime()))
                 .Add("startTimeSeconds", reader.startTime())
                 .Add("endTime", Iso8601Utc(reader.endTime()))
                 .Add("endTimeSeconds", reader.endTime())
                 .Add("durationSeconds", duration);
      AddRateJson(rate, json);
      std::string list = "[";
      for (const std::string& w : warnings) list += (list.size() > 1 ? ", " : "") + JsonString(w);
      json.AddRaw("warnings", list + "]");
      json.AddRaw("timeline", TimelineJson(*clock));
      // The recorder writes its texts in Latin-1.
      json.Add("text1", container::Latin1ToUtf8(reader.text1()))
          .Add("text2", container::Latin1ToUtf8(reader.text2()))
          .Add("text3", container::Latin1ToUtf8(reader.text3()));
      out << json.Text() << "\n";
      if (how.convert.time.frames) PrintFrames(reader, *clock, input, true, out);
      continue;
    }
    if (several) out << (first ? "" : "\n") << "== " << Printable(input) << "\n";
    first = false;
    out << "version:          " << reader.version() << "\n"
        << "codec generation: " << gen << "\n"
        << "resolution code:  " << int(reader.resolutionCode()) << "\n"
        << "picture size:     " << info.width << " x " << info.height << "\n"
        << "size family:      " << info.sizeFamily << "\n"
        << "frames:           " << reader.frameCount() << "\n"
        << "blocks:           " << reader.blockCount() << "\n"
        << "start:            " << container::IsoUtc(reader.startTime()) << "\n"
        << "end:              " << container::IsoUtc(reader.endTime()) << "\n"
        << "duration:         " << duration << " s\n"
        << TimelineText(*clock)
        << RateText(rate)
        // The texts are the recording's: shown escaped, so they can neither drive the terminal
        // nor pass for lines of ours.
        << "text1:            " << Printable(container::Latin1ToUtf8(reader.text1())) << "\n"
        << "text2:            " << Printable(container::Latin1ToUtf8(reader.text2())) << "\n"
        << "text3:            " << Printable(container::Latin1ToUtf8(reader.text3())) << "\n";
    for (const std::string& w : warnings) out << "warning:          " << w << "\n";
    for (const std::string& w : warnings) err << "zentrova: " << Printable(input) << ": warning: " << w << "\n";
    if (how.convert.time.frames) PrintFrames(reader, *clock, input, false, out);
  }
  return status;
}

}  // namespace zentrova::cli
