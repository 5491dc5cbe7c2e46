#include "cli/ReportFiles.h"

#include <chrono>

#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "container/ContainerFile.h"
#include "libav/Module.h"

namespace zentrova::cli {
namespace {

int64_t NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FileJson(const ConversionReport::File& f) {
  JsonObject o;
  o.AddPath("path", f.path).Add("size", f.size);
  if (f.sha256.empty())
    o.AddNull("sha256").Add("problem", f.problem);
  else
    o.Add("sha256", f.sha256);
  o.Add("modified", Iso8601Utc(f.modified));
  return o.Text();
}

std::string SpansJson(const FrameSpans& spans) {
  std::string json = "[";
  for (const FrameSpan& s : spans) {
    if (json.size() > 1) json += ",";
    json += "{\"first\":" + std::to_string(s.first) + ",\"last\":" + std::to_string(s.last) + "}";
  }
  return json + "]";
}

}  // namespace

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
  output.AddRaw("file", FileJson(r.output)).Add("container", r.container).Add("codec", r.codec);
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
  anomalies.AddRaw("recoveryDamage", damage).AddRaw("gaps", SpansJson(r.gaps));
  std::string log = "[";
  for (const std::string& l : r.log) log += (log.size() > 1 ? "," : "") + JsonString(l);
  log += "]";
  JsonObject report;
  report.Add("report", "zentrova conversion").AddRaw("input", FileJson(r.input));
  report.AddRaw("recording", recording.Text()).AddRaw("conversion", conversion.Text());
  report.AddRaw("output", output.Text()).AddRaw("anomalies", anomalies.Text());
  report.Add("exitStatus", static_cast<int64_t>(r.exitStatus)).AddRaw("log", log);
  return report.Text() + "\n";
}

ReportRecorder::ReportRecorder(bool enabled, const std::string& input, const std::string& output,
                               const ConvertOptions& options, const JobOptions& job)
    : enabled_(enabled) {
  if (!enabled_) return;
  overwrite_ = job.overwrite;
  blocked_ = !overwrite_ && (ConversionJob::WouldReplace(ReportPath(output, "json")) ||
                             ConversionJob::WouldReplace(ReportPath(output, "txt")));
  report_.started = NowMillis();
  report_.output.path = output;
  report_.program = "zentrova " ZENTROVA_VERSION;
  // The recording is read once more, sequentially, beside the job: its digest costs no second
  // conversion and little time.
  hashing_ = std::thread([this, input] { inputFacts_ = FileFacts(input); });
  ReadRecordingFacts(input, report_);
  report_.container = container::FormatName(job.format);
  report_.codec = options.codec;
  report_.settings = {{"codec", options.codec},
                      {"quality", std::to_string(options.quality)},
                      {"rate", options.outputChoice.rate},
                      {"idct", options.idct},
                      {"recover", options.recover ? "yes" : "no"},
                      {"overwrite", job.overwrite ? "yes" : "no"}};
}

ReportRecorder::~ReportRecorder() {
  if (hashing_.joinable()) hashing_.join();
}

void ReportRecorder::Line(const std::string& line) {
  if (enabled_) report_.log.push_back(line);
}

void ReportRecorder::Loop(const ConversionJob::LoopResult& loop, const DerivedRate& rate) {
  if (enabled_) TakeLoopResult(loop, rate, report_);
}

int ReportRecorder::Finish(int status, std::ostream& err) {
  if (!enabled_ || finished_) return status;
  finished_ = true;
  if (hashing_.joinable()) hashing_.join();
  report_.input = inputFacts_;
  if (report_.codec != "raw") {
    std::string problem;
    if (const libav::Module* module = libav::Load(&problem)) report_.libraries = module->libraryVersions();
  }
  report_.output = FileFacts(report_.output.path);
  report_.exitStatus = status;
  report_.ended = NowMillis();
  const std::string output = report_.output.path;
  // The report of an earlier conversion is evidence too: replaced only with -y, as the output is.
  if (blocked_) {
    err << "zentrova: " << Printable(ReportPath(output, "json")) << " exists; -y replaces it" << std::endl;
    return WorseStatus(status, kExitFailed);
  }
  ConversionReport shown = report_;
  if (!shownInput_.empty()) shown.input.path = shownInput_;
  if (!shownOutput_.empty()) shown.output.path = shownOutput_;
  if (show_)
    for (std::string& line : shown.log) line = show_(line);
  auto written = WriteWholeFile(ReportPath(output, "json"), ReportJson(shown));
  if (written) written = WriteWholeFile(ReportPath(output, "txt"), ReportText(shown));
  if (!written) {
    err << "zentrova: the report could not be written: " << written.reason() << std::endl;
    return WorseStatus(status, kExitFailed);
  }
  return status;
}

}  // namespace zentrova::cli
