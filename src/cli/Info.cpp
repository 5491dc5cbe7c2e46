// info: what opening each recording reports, or which validity rule it breaks.
#include <cstdio>
#include <ctime>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"

namespace zentrova::cli {
namespace {

std::string UtcText(int32_t seconds) {
  std::time_t t = seconds;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

}  // namespace

int RunInfo(const Invocation& how, std::ostream& out, std::ostream& err) {
  int status = kExitOk;
  const bool several = how.infoInputs.size() > 1;
  bool first = true;
  for (const std::string& input : how.infoInputs) {
    ZrReader reader;
    reader.setFileErrorSink([&](const std::string& m) { err << "zentrova: " << m << "\n"; });
    RecordingInfo info;
    if (!reader.open(input, &info, 0, 1)) {
      err << "zentrova: " << Printable(input) << ": " << reader.failureReason() << "\n";
      if (how.output.json)
        out << JsonObject().AddPath("input", input).Add("status", "failed").Add("reason", reader.failureReason()).Text()
            << "\n";
      status = kExitFailed;
      continue;
    }
    const uint32_t generation = GenerationOfVersion(reader.version());
    const uint32_t duration = static_cast<uint32_t>(reader.endTime()) - static_cast<uint32_t>(reader.startTime());
    char gen[16];
    std::snprintf(gen, sizeof gen, "0x%08X", generation);
    if (how.output.json) {
      out << JsonObject()
                 .AddPath("input", input)
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
                 .Add("endTime", Iso8601Utc(reader.endTime()))
                 .Add("durationSeconds", duration)
                 .Add("text1", reader.text1())
                 .Add("text2", reader.text2())
                 .Add("text3", reader.text3())
                 .Text()
          << "\n";
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
        << "start:            " << UtcText(reader.startTime()) << "\n"
        << "end:              " << UtcText(reader.endTime()) << "\n"
        << "duration:         " << duration << " s\n"
        << "text1:            " << reader.text1() << "\n"
        << "text2:            " << reader.text2() << "\n"
        << "text3:            " << reader.text3() << "\n";
  }
  return status;
}

}  // namespace zentrova::cli
