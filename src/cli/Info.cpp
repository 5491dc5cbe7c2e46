// info: what opening each recording reports, or which validity rule it breaks.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Progress.h"
#include "cli/RateOption.h"
#include "cli/Signals.h"
#include "cli/Timeline.h"
#include "container/Tags.h"
#include "recording/ZrFormat.h"
#include "recording/TimedRecording.h"
#include "recording/ZrReader.h"

namespace zentrova::cli {
namespace {

bool IsRecordingFile(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".zr" || extension == ".zrx";
}

// The recordings named: files as they are, folders searched for .zr and .zrx files (any case),
// in name order. A folder that cannot be read is said on standard error.
std::vector<std::string> RecordingsNamed(const std::vector<std::string>& inputs, std::ostream& err, int& status) {
  std::vector<std::string> found;
  for (const std::string& input : inputs) {
    std::error_code ec;
    if (!std::filesystem::is_directory(input, ec)) {
      found.push_back(input);
      continue;
    }
    std::vector<std::string> inside;
    const auto options = std::filesystem::directory_options::skip_permission_denied;
    for (auto it = std::filesystem::recursive_directory_iterator(input, options, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file(ec) && IsRecordingFile(it->path())) inside.push_back(it->path().string());
    }
    if (ec) {
      err << "zentrova: " << Printable(input) << ": " << ec.message() << "\n";
      status = kExitFailed;
    }
    if (inside.empty()) err << "zentrova: " << Printable(input) << ": no .zr or .zrx recording in it\n";
    std::sort(inside.begin(), inside.end());
    found.insert(found.end(), inside.begin(), inside.end());
  }
  return found;
}

// "352 x 288 -> 352 x 576, 250 frames, 0:10 from 2026-12-07T11:32:04Z, with sound": what a
// conversion makes of the recording, in one line.
std::string Summary(const RecordingInfo& info, const RateReport& rate, int64_t duration, int32_t start) {
  const int32_t outputHeight = ConversionJob::ComputeOutputHeight(info.width, info.height);
  std::string text = std::to_string(info.width) + " x " + std::to_string(info.height);
  if (outputHeight != info.height) text += " (converted to " + std::to_string(info.width) + " x " + std::to_string(outputHeight) + ")";
  text += ", " + std::to_string(rate.frames) + " frames, " + ClockText(static_cast<double>(duration)) + " from " +
          container::IsoUtc(start);
  text += rate.samples > 0 ? ", with sound" : ", no sound";
  return text;
}

}  // namespace

int RunInfo(const Invocation& how, std::ostream& out, std::ostream& err) {
  int status = kExitOk;
  const std::vector<std::string> inputs = RecordingsNamed(how.infoInputs, err, status);
  const bool several = inputs.size() > 1;
  const std::string& encoding = how.convert.textEncoding;
  bool first = true;
  for (const std::string& input : inputs) {
    ZrReader reader;
    reader.setFileErrorSink([&](const std::string& m) { err << "zentrova: " << m << "\n"; });
    RecordingInfo info;
    if (auto opened = reader.open(input, &info); !opened) {
      std::string reason = opened.reason();
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
    std::vector<std::string> warnings = reader.damageWarnings();
    // What `convert` would report at the end, said before it runs.
    if (rate.fetched < rate.frames)
      warnings.push_back("the file ends after " + std::to_string(rate.fetched) + " of the " +
                         std::to_string(rate.frames) + " frames it declares; a conversion saves those " +
                         std::to_string(rate.fetched));
    const int32_t outputHeight = ConversionJob::ComputeOutputHeight(info.width, info.height);
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
                 .Add("outputWidth", info.width)
                 .Add("outputHeight", outputHeight)
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
      json.Add("summary", Summary(info, rate, duration, reader.startTime()))
          .Add("text1", container::TextToUtf8(reader.text1(), encoding))
          .Add("text2", container::TextToUtf8(reader.text2(), encoding))
          .Add("text3", container::TextToUtf8(reader.text3(), encoding));
      out << json.Text() << "\n";
      if (how.convert.time.frames) PrintFrames(reader, *clock, input, true, out);
      continue;
    }
    if (several) out << (first ? "" : "\n") << "== " << Printable(input) << "\n";
    first = false;
    out << Summary(info, rate, duration, reader.startTime()) << "\n"
        << "version:          " << reader.version() << "\n"
        << "codec generation: " << gen << "\n"
        << "resolution code:  " << int(reader.resolutionCode()) << "\n"
        << "picture size:     " << info.width << " x " << info.height << "\n"
        << "output size:      " << info.width << " x " << outputHeight << "\n"
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
        << "text1:            " << Printable(container::TextToUtf8(reader.text1(), encoding)) << "\n"
        << "text2:            " << Printable(container::TextToUtf8(reader.text2(), encoding)) << "\n"
        << "text3:            " << Printable(container::TextToUtf8(reader.text3(), encoding)) << "\n";
    for (const std::string& w : warnings) out << "warning:          " << w << "\n";
    for (const std::string& w : warnings) err << "zentrova: " << Printable(input) << ": warning: " << w << "\n";
    if (how.convert.time.frames) PrintFrames(reader, *clock, input, false, out);
  }
  return status;
}

}  // namespace zentrova::cli
