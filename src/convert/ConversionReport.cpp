#include "convert/ConversionReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "container/Tags.h"
#include "convert/Digest.h"
#include "convert/Json.h"

namespace zentrova {
namespace {

std::string Utc(int64_t seconds) { return container::IsoUtc(seconds); }

// The conversion report's own file facts: the batch report's, then the modification time.
std::string ReportFileJson(const ConversionReport::File& f) {
  return FileJson(f).Add("modified", Iso8601Utc(f.modified)).Text();
}

std::string SpansJson(const FrameSpans& spans) {
  std::string json = "[";
  for (const FrameSpan& s : spans) {
    if (json.size() > 1) json += ",";
    json += "{\"first\":" + std::to_string(s.first) + ",\"last\":" + std::to_string(s.last) + "}";
  }
  return json + "]";
}

std::string GapsJson(const std::vector<ConversionReport::Gap>& gaps) {
  std::string json = "[";
  for (const ConversionReport::Gap& g : gaps) {
    if (json.size() > 1) json += ",";
    json += JsonObject()
                .Add("frame", g.frame)
                .Add("recordingFrame", g.recordingFrame)
                .Add("from", IsoUtcMillis(g.from))
                .Add("fromMs", g.from)
                .Add("to", IsoUtcMillis(g.to))
                .Add("toMs", g.to)
                .AddNumber("seconds", static_cast<double>(g.to - g.from) / 1000, 3)
                .Text();
  }
  return json + "]";
}

std::string SecondsText(int64_t millis) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(millis) / 1000);
  return text;
}

}  // namespace

int ReportStatusOf(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Saved: return 0;
    case JobOutcome::RecordingShort: return 4;
    case JobOutcome::WriteFailed: return 3;
    case JobOutcome::Cancelled: return 130;
  }
  return kReportNotStarted;
}

std::string IsoUtcMillis(int64_t millis) {
  char text[8];
  std::snprintf(text, sizeof text, ".%03d", static_cast<int>(millis % 1000));
  std::string iso = Utc(millis / 1000);
  if (!iso.empty() && iso.back() == 'Z') iso.insert(iso.size() - 1, text);
  return iso;
}

JsonObject FileJson(const ConversionReport::File& f) {
  JsonObject o;
  o.AddPath("path", f.path).Add("size", f.size);
  if (f.sha256.empty())
    o.AddNull("sha256").Add("problem", f.problem);
  else
    o.Add("sha256", f.sha256);
  return o;
}

ConversionReport::File FileFacts(const std::string& path) {
  ConversionReport::File file;
  // Absolute, so that the report can be checked from anywhere.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  file.path = error ? path : absolute.lexically_normal().string();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    file.problem = std::strerror(errno);
    return file;
  }
  file.size = static_cast<uint64_t>(st.st_size);
  file.modified = static_cast<int64_t>(st.st_mtim.tv_sec);
  if (auto digest = DigestOfFile(path, DigestKind::Sha256)) {
    file.sha256 = *digest;
  } else {
    file.problem = digest.reason();
  }
  return file;
}

void ReadRecordingFacts(const std::string& path, ConversionReport& report) {
  ZrReader reader;
  RecordingInfo info;
  if (!reader.open(path, &info)) return;
  report.headerRead = true;
  report.version = reader.version();
  report.width = info.width;
  report.height = info.height;
  report.startTime = reader.startTime();
  report.endTime = reader.endTime();
  report.text1 = reader.text1();
  report.text2 = reader.text2();
  report.text3 = reader.text3();
  report.framesDeclared = static_cast<uint32_t>(reader.frameCount());
  reader.close();
}

void TakeLoopResult(const ConversionJob::LoopResult& loop, const DerivedRate& rate, ConversionReport& report) {
  report.frames = loop.framesWritten;
  report.rate = rate.rate.text();
  report.duration = rate.rate.num ? static_cast<double>(loop.framesWritten) * rate.rate.den / rate.rate.num : 0;
  // A file completed short of what was written holds only the frames it says.
  auto within = [&](FrameSpans spans) {
    FrameSpans kept;
    for (FrameSpan s : spans) {
      if (s.first >= loop.framesWritten) break;
      kept.push_back({s.first, std::min(s.last, loop.framesWritten - 1)});
    }
    return kept;
  };
  report.blackFrames = within(loop.blackFrames);
  report.damagedFrames = within(loop.damagedFrames);
  report.cutFrames = loop.cutFrames;
  report.audioBytesDropped = loop.audioBytesDropped;
}

void TakeClockGaps(RecordingClock& clock, uint32_t firstFrame, ConversionReport& report) {
  report.gaps.clear();
  if (!clock.fromTicks()) {
    report.clock = "spread evenly: " + clock.fallbackReason();
    return;
  }
  report.clock = "ticks";
  // Only a pause between two frames that were both written is one the output shows.
  const uint64_t end = uint64_t{firstFrame} + report.frames;
  for (const ClockGap& g : clock.Gaps())
    if (g.frameAfter > firstFrame && g.frameAfter < end)
      report.gaps.push_back({g.frameAfter - firstFrame, g.frameAfter, g.from, g.to});
}

std::string ReportJson(const ConversionReport& r) {
  JsonObject recording;
  recording.Add("headerRead", r.headerRead);
  if (r.headerRead) {
    recording.Add("version", r.version).Add("width", r.width).Add("height", r.height);
    recording.Add("startTime", static_cast<int64_t>(r.startTime)).Add("startUtc", Iso8601Utc(r.startTime));
    recording.Add("endTime", static_cast<int64_t>(r.endTime)).Add("endUtc", Iso8601Utc(r.endTime));
    recording.Add("text1", r.text1).Add("text2", r.text2).Add("text3", r.text3);
    recording.Add("framesDeclared", r.framesDeclared);
  }
  JsonObject settings;
  for (const ReportSetting& s : r.settings) settings.Add(s.name, s.value);
  JsonObject conversion;
  conversion.Add("program", r.program).Add("libraries", r.libraries).AddRaw("settings", settings.Text());
  conversion.Add("started", Iso8601Utc(r.started / 1000)).Add("startedMs", r.started);
  conversion.Add("ended", Iso8601Utc(r.ended / 1000)).Add("endedMs", r.ended);
  JsonObject output;
  output.AddRaw("file", ReportFileJson(r.output)).Add("container", r.container).Add("codec", r.codec);
  output.Add("frames", r.frames).Add("rate", r.rate).AddNumber("duration", r.duration, 3);
  std::string damage = "[";
  for (const DamagedSpan& d : r.damage) {
    if (damage.size() > 1) damage += ",";
    damage += JsonObject().Add("offset", d.offset).Add("length", d.length).Add("what", d.what).Text();
  }
  damage += "]";
  JsonObject anomalies;
  anomalies.AddRaw("black", SpansJson(r.blackFrames)).AddRaw("damaged", SpansJson(r.damagedFrames));
  anomalies.AddRaw("cut", SpansJson(r.cutFrames)).Add("audioBytesDropped", r.audioBytesDropped);
  anomalies.AddRaw("recoveryDamage", damage).AddRaw("gaps", GapsJson(r.gaps));
  if (r.clock.empty())
    anomalies.AddNull("clock");
  else
    anomalies.Add("clock", r.clock);
  std::string log = "[";
  for (const std::string& l : r.log) log += (log.size() > 1 ? "," : "") + JsonString(l);
  log += "]";
  JsonObject report;
  report.Add("report", "zentrova conversion").AddRaw("input", ReportFileJson(r.input));
  report.AddRaw("recording", recording.Text()).AddRaw("conversion", conversion.Text());
  report.AddRaw("output", output.Text()).AddRaw("anomalies", anomalies.Text());
  report.Add("exitStatus", static_cast<int64_t>(r.exitStatus)).AddRaw("log", log);
  return report.Text() + "\n";
}

std::string SpansText(const FrameSpans& spans) {
  if (spans.empty()) return "none";
  std::string text;
  for (const FrameSpan& s : spans) {
    if (!text.empty()) text += ", ";
    text += std::to_string(s.first);
    if (s.last != s.first) text += "-" + std::to_string(s.last);
  }
  return text;
}

std::string ReportPath(const std::string& output, const char* extension) {
  std::filesystem::path path(output);
  path.replace_extension();
  return path.string() + ".report." + extension;
}

std::string ReportText(const ConversionReport& r) {
  std::string t;
  auto line = [&t](const std::string& name, const std::string& value) { t += name + ": " + value + "\n"; };
  auto file = [&](const ConversionReport::File& f) {
    line("  path", f.path);
    line("  size", std::to_string(f.size) + " bytes");
    line("  SHA-256", f.sha256.empty() ? "not read (" + f.problem + ")" : f.sha256);
    line("  modified", Utc(f.modified));
  };
  t += "Conversion report\n\nRecording\n";
  file(r.input);
  if (r.headerRead) {
    line("  format version", std::to_string(r.version));
    line("  picture", std::to_string(r.width) + " x " + std::to_string(r.height));
    line("  start", std::to_string(r.startTime) + " on the recorder's clock (" + Utc(r.startTime) + ")");
    line("  end", std::to_string(r.endTime) + " on the recorder's clock (" + Utc(r.endTime) + ")");
    line("  texts", "\"" + r.text1 + "\", \"" + r.text2 + "\", \"" + r.text3 + "\"");
    line("  frames declared", std::to_string(r.framesDeclared));
  } else {
    t += "  header: could not be read\n";
  }
  t += "\nConversion\n";
  line("  program", r.program);
  std::string libs = r.libraries;
  while (!libs.empty() && libs.back() == '\n') libs.pop_back();
  for (size_t at; (at = libs.find('\n')) != std::string::npos;) libs.replace(at, 1, "; ");
  line("  libraries", libs.empty() ? "none loaded" : libs);
  for (const ReportSetting& s : r.settings) line("  " + s.name, s.value);
  line("  started", IsoUtcMillis(r.started));
  line("  ended", IsoUtcMillis(r.ended));
  t += "\nOutput\n";
  file(r.output);
  line("  container", r.container);
  line("  codec", r.codec);
  line("  frames", std::to_string(r.frames));
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f s at %s frames/s", r.duration, r.rate.c_str());
  line("  duration", seconds);
  t += "\nFrames not shown as recorded (counted from 0)\n";
  line("  black, no picture", SpansText(r.blackFrames));
  line("  damaged, previous picture repeated", SpansText(r.damagedFrames));
  line("  cut short in the recording", SpansText(r.cutFrames));
  line("  sound bytes dropped", std::to_string(r.audioBytesDropped));
  if (r.gaps.empty())
    line("  gaps in the clock", r.clock.empty() ? "not looked for" : r.clock == "ticks" ? "none" : "none known, " + r.clock);
  for (const ConversionReport::Gap& g : r.gaps)
    line("  gap in the clock", "before frame " + std::to_string(g.frame) + " (frame " + std::to_string(g.recordingFrame) +
                                   " of the recording): " + IsoUtcMillis(g.from) + " to " + IsoUtcMillis(g.to) + ", " +
                                   SecondsText(g.to - g.from));
  if (r.damage.empty()) line("  damaged spans found by recovery", "none");
  for (const DamagedSpan& d : r.damage)
    line("  damaged span", "bytes " + std::to_string(d.offset) + " to " + std::to_string(d.offset + d.length) + ": " +
                               d.what);
  t += "\nExit status: " + std::to_string(r.exitStatus) + "\n\nLog\n";
  for (const std::string& l : r.log) t += "  " + l + "\n";
  return t;
}

Expected<void> WriteWholeFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".part";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  auto fail = [&](int error) {
    ::unlink(temporary.c_str());
    return Failure(path + ": " + std::strerror(error));
  };
  if (fd < 0) return Failure(path + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      return fail(error);
    }
    done += static_cast<size_t>(n);
  }
  if (::fdatasync(fd) != 0 || ::close(fd) != 0) return fail(errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
  return {};
}

}  // namespace zentrova
