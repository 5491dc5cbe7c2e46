#include "cli/RateOption.h"

#include "cli/Json.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "container/ContainerFile.h"
#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"

namespace zentrova::cli {

void AddOutputOptions(CLI::App* convert, OutputChoice& choice) {
  convert
      ->add_option("--rate", choice.rate,
                   "Video frame rate: auto (pictures last as long as the sound, or the recording), "
                   "classic (frames / duration + 1, as the recorder's own converter), or N or N/D "
                   "frames per second between 1/60 and 120")
      ->check([](const std::string& text) {
        const Expected<RateChoice> rate = RateChoice::Parse(text);
        return rate ? std::string() : rate.reason();
      })
      ->capture_default_str();
  convert
      ->add_option("--format", choice.format,
                   "Container: avi, mkv or mp4 (default: from the output name, .mkv and .mp4 name "
                   "theirs, anything else is AVI)")
      ->check(CLI::IsMember({"avi", "mkv", "mp4"}));
}

Expected<void> ApplyOutputOptions(const OutputChoice& choice, const std::string& output, const std::string& codec,
                                  JobOptions& options) {
  Expected<RateChoice> rate = RateChoice::Parse(choice.rate);
  if (!rate) return rate.error();
  options.rate = *rate;
  const auto format = choice.format.empty() ? std::optional(container::FormatOfName(output))
                                            : container::ParseFormat(choice.format);
  if (!format) return Failure("unknown format " + choice.format);
  options.format = *format;
  return container::CanCarry(*format, codec);
}

RateReport ReportRate(ZrReader& reader, const RecordingInfo& info) {
  RateReport r;
  r.frames = static_cast<uint32_t>(reader.frameCount());
  r.duration = RecordingDuration(reader.startTime(), reader.endTime());
  // The buffers the conversion uses, so that the count matches what it writes.
  std::vector<uint8_t> video(static_cast<size_t>(info.width) * info.height * 2);
  std::vector<uint8_t> audio(ConversionJob::kAudioBufferBytes);
  FrameRecord record;
  record.videoData = video.data();
  record.videoCapacity = static_cast<uint32_t>(video.size());
  record.audioData = audio.data();
  record.audioCapacity = static_cast<uint32_t>(audio.size());
  uint32_t fetched = 0;
  for (uint32_t i = 0; i < r.frames && reader.fetchFrame(&record, -1, 0); ++i) {
    ++fetched;
    if ((record.flags & FlagAudio) && record.audioBytes > 0) r.samples += uint64_t{record.audioBytes / 3} * 8;
  }
  r.fetched = fetched;
  r.rate = AutoRate(r.samples > 0 ? fetched : r.frames, r.samples, reader.startTime(), reader.endTime());
  r.classic = ClassicRate(r.frames, reader.startTime(), reader.endTime());
  double length = 0;
  if (r.samples > 0)
    length = static_cast<double>(r.samples) / kAudioSampleRate;
  else if (r.duration > 0)
    length = static_cast<double>(r.duration);
  const uint32_t frames = r.samples > 0 ? fetched : r.frames;
  if (length > 0 && frames > 0) r.classicDrift = length - frames / r.classic.rate.fps();
  return r;
}

namespace {

std::string Fixed(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

std::string Fps(const FrameRate& rate) {
  std::string s = rate.text() + " fps";
  if (rate.den != 1) s += " (" + Fixed(rate.fps(), 3) + ")";
  return s;
}

const char* SourceKey(RateSource source) {
  switch (source) {
    case RateSource::Sound: return "sound";
    case RateSource::Duration: return "duration";
    case RateSource::NoTiming: return "default";
    case RateSource::Classic: return "classic";
    case RateSource::Forced: return "forced";
  }
  return "";
}

// The classic rule drifts when its pictures end at least a frame away from the sound.
bool Drifts(const RateReport& r) { return std::abs(r.classicDrift) * r.rate.rate.fps() >= 1.0; }

}  // namespace

std::string RateText(const RateReport& r) {
  std::string out = "sound:            " + std::to_string(r.samples) + " samples (" +
                    Fixed(static_cast<double>(r.samples) / kAudioSampleRate, 1) + " s)\n";
  out += "frame rate:       " + Fps(r.rate.rate) + ", from " + RateSourceText(r.rate.source);
  if (r.rate.bounded) out += ", kept within 1/60 to 120";
  out += "\n";
  out += "classic rate:     " + Fps(r.classic.rate);
  if (Drifts(r))
    out += ", pictures would end " + Fixed(std::abs(r.classicDrift), 1) + " s " +
           (r.classicDrift > 0 ? "before" : "after") + (r.samples > 0 ? " the sound" : " the recording");
  return out + "\n";
}

void AddRateJson(const RateReport& r, JsonObject& json) {
  json.Add("audioSamples", r.samples)
      .Add("frameRate", r.rate.rate.text())
      .AddNumber("frameRateFps", r.rate.rate.fps(), 6)
      .Add("frameRateSource", SourceKey(r.rate.source))
      .Add("frameRateBounded", r.rate.bounded)
      .Add("classicRate", r.classic.rate.text())
      .AddNumber("classicDriftSeconds", Drifts(r) ? r.classicDrift : 0.0, 3);
}

}  // namespace zentrova::cli
