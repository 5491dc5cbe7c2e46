#include "RecordingGenerator.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "MediaSources.h"
#include "SourcePicture.h"
#include "StressStreams.h"
#include "audio/G726Decoder.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"

namespace zentrova::zrgen {

namespace {

constexpr int kSampleRate = 8000;
constexpr int kMaxFrameSamples = 24000;  // what one Encode call takes

struct Run {
  Run(const GeneratorOptions& o, GeneratorReport& r, const PictureObserver& obs) : options(o), report(r), observer(obs) {}

  const GeneratorOptions& options;
  GeneratorReport& report;
  const PictureObserver& observer;
  ZrWriter writer;
  VideoEncoder encoder;
  CodedLayout layout{};
  PictureSize size{};
  std::unique_ptr<PictureSource> pictures;
  std::unique_ptr<SoundSource> sound;
  G726Decoder audioCodec;
  std::vector<int16_t> pcm;
  std::vector<uint8_t> adpcm;
  double psnrSum[3] = {0, 0, 0};
  int psnrCount = 0;

  bool Fail(const std::string& why) {
    report.error = why;
    return false;
  }

  bool OpenSources() {
    if (options.video == VideoInput::Yuv) {
      pictures = MakeYuvSource(options.yuvPath, size.width, size.height);
      if (!pictures) return Fail("cannot open " + options.yuvPath);
    } else {
      pictures = MakePatternSource(size.width, size.height, options.video == VideoInput::StillPattern);
    }
    if (options.audio == AudioInput::Tone) sound = MakeToneSource(options.toneHz, options.toneAmplitude);
    if (options.audio == AudioInput::Silence) sound = MakeSilenceSource();
    if (options.audio == AudioInput::Pcm) {
      sound = MakePcmSource(options.pcmPath);
      if (!sound) return Fail("cannot open " + options.pcmPath);
    }
    if (sound && !audioCodec.Prepare(1)) return Fail("the G.726 encoder cannot start");
    return true;
  }

  bool Setup() {
    const std::optional<PictureSize> found = SizeOfResolutionCode(options.resolutionCode);
    if (!found) return Fail("no such resolution code");
    size = *found;
    const bool newer = options.version == kVersionNewer;
    const bool newerCode = (options.resolutionCode & 0x7F) > 3;
    if (newerCode && options.version <= 257) return Fail("resolution codes 4, 5, 132 and 133 need a version above 257");
    if (options.rate < 1 || options.rate > kSampleRate / 8) return Fail("the rate must lie in 1..1000");
    if (options.frames < 1 && !options.stress) return Fail("a recording needs at least one frame");
    if (options.text1.size() > kMaxTextLength || options.text2.size() > kMaxTextLength)
      return Fail("text1 and text2 hold at most 1000 bytes");
    if (options.version > kMaxVersion) return Fail("versions above 4096 are refused by every reader");
    layout = CodedLayoutFor(size.width, size.height, newer);
    int shownWidth = layout.width, shownHeight = layout.height;
    if (newer) DeliveredSize(layout.width, layout.height, shownWidth, shownHeight);
    if (shownWidth != size.width || shownHeight != size.height)
      return Fail("version 4096 cannot carry " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                  ": its decoder would enlarge the pictures");
    report.codedWidth = layout.width;
    report.codedHeight = layout.height;

    EncoderSettings settings;
    settings.generation = GenerationOfVersion(options.version);
    settings.idct = options.idct;
    settings.codedWidth = layout.width;
    settings.codedHeight = layout.height;
    settings.quantiser = options.quantiser;
    settings.intraQuantiser = options.intraQuantiser > 0 ? options.intraQuantiser : options.quantiser;
    settings.intraPeriod = options.intraPeriod;
    settings.groupCount = options.groupCount;
    std::string why;
    if (!encoder.Initialise(settings, &why)) return Fail(why);
    if (!OpenSources()) return false;

    ZrHeaderFields fields;
    fields.version = options.version;
    fields.resolutionCode = options.resolutionCode;
    fields.startTime = options.startTime;
    fields.endTime = options.startTime;
    fields.text1 = options.text1;
    fields.text2 = options.text2;
    fields.text3 = options.text3;
    fields.createTick = options.createTick;
    fields.utcOffsetHours = options.utcOffsetHours;
    if (!writer.Open(options.output, fields)) return Fail("cannot create " + options.output);
    return true;
  }

  std::vector<uint8_t> SoundOfFrame(int frame) {
    if (!sound) return {};
    const int samples = std::min(AudioSamplesOfFrame(frame, options.rate), kMaxFrameSamples);
    pcm.assign(static_cast<size_t>(samples), 0);
    sound->Next(pcm.data(), samples);
    // The G.726 coder works at its decoder's own output scale, the 14-bit range: 16-bit PCM is
    // brought down by two bits first (an arithmetic shift, rounding towards minus infinity).
    for (int16_t& s : pcm) s = static_cast<int16_t>(s >> 2);
    adpcm.assign(static_cast<size_t>(samples / 8 * 3), 0);
    if (samples > 0 && !audioCodec.Encode(pcm.data(), adpcm.data(), samples)) adpcm.clear();
    return adpcm;
  }

  bool PausedBefore(int frame) const {
    return std::any_of(options.pauses.begin(), options.pauses.end(),
                       [frame](const GeneratorOptions::Pause& p) { return p.frame == frame && p.milliseconds > 0; });
  }

  bool Write(int frame, uint16_t flags, const std::vector<uint8_t>& video) {
    const bool blockFull = options.framesPerBlock > 0 && frame % options.framesPerBlock == 0;
    if (frame > 0 && (blockFull || PausedBefore(frame))) {
      // The counter is 32 bits wide and wraps, as the recorder's does.
      const auto tick = static_cast<uint32_t>(options.createTick + MillisecondsBeforeFrame(options, frame));
      if (!writer.BeginBlock(tick)) return Fail("write error");
      ++report.blocks;
    }
    const std::vector<uint8_t> audio = SoundOfFrame(frame);
    ZrFrame f;
    f.frameTag = static_cast<uint16_t>(frame);
    f.flags = static_cast<uint16_t>(flags | (sound ? FlagAudio : 0));
    f.frameParam = static_cast<uint32_t>(frame) * 1000u / static_cast<uint32_t>(options.rate);
    f.video = video;
    f.audio = audio;
    if (!writer.WriteFrame(f)) return Fail("write error");
    report.videoBytes += video.size();
    report.audioBytes += audio.size();
    ++report.frames;
    return true;
  }

  bool Picture(int frame, const EncodedPicture& picture) {
    if (!picture.error.empty()) return Fail("frame " + std::to_string(frame) + ": " + picture.error);
    ++report.pictures;
    report.intraPictures += picture.intra ? 1 : 0;
    report.notCodedPictures += picture.notCoded ? 1 : 0;
    if (observer) observer(frame, picture, encoder);
    return Write(frame, 0, picture.bytes);
  }

  bool SourceFrames() {
    Planes source;
    for (int frame = 0; frame < options.frames; ++frame) {
      if (!pictures->Next(source)) break;
      const EncodedPicture picture = encoder.Encode(PrepareForCoding(source, layout));
      const double psnr[3] = {picture.psnrY, picture.psnrCb, picture.psnrCr};
      for (int i = 0; i < 3; ++i) psnrSum[i] += psnr[i];
      report.minPsnrY = psnrCount == 0 ? picture.psnrY : std::min(report.minPsnrY, picture.psnrY);
      ++psnrCount;
      if (!Picture(frame, picture)) return false;
    }
    return true;
  }

  bool StressFrames() {
    int frame = 0;
    for (const StressStep& step : StressSequence(layout.width, layout.height, options.seed)) {
      if (step.kind == StressStep::Kind::EmptyBlock) {
        if (!writer.BeginBlock()) return Fail("write error");
        ++report.blocks;
        if (!writer.BeginBlock()) return Fail("write error");  // the empty block stays empty
        ++report.blocks;
        continue;
      }
      if (step.kind == StressStep::Kind::NoPicture) {
        ++report.framesWithoutPicture;
        if (!Write(frame++, FlagNoPicture, std::vector<uint8_t>(static_cast<size_t>(step.noPictureBytes), 0x5A)))
          return false;
        continue;
      }
      if (!Picture(frame++, encoder.EncodePlan(step.plan))) return false;
    }
    return true;
  }

  bool Finish() {
    // The recording lasts as long as its frames at the rate and its pauses, in whole seconds.
    const uint64_t lasted = MillisecondsBeforeFrame(options, report.frames);
    const auto duration = static_cast<int32_t>(
        options.pauses.empty() ? (report.frames + options.rate / 2) / options.rate : (lasted + 500) / 1000);
    if (!writer.SetEndTime(options.startTime + duration) || !writer.Close()) return Fail("write error");
    report.fileBytes = writer.bytesWritten();
    if (psnrCount > 0) {
      report.psnrY = psnrSum[0] / psnrCount;
      report.psnrCb = psnrSum[1] / psnrCount;
      report.psnrCr = psnrSum[2] / psnrCount;
    }
    return true;
  }
};

}  // namespace

uint64_t MillisecondsBeforeFrame(const GeneratorOptions& options, int64_t frame) {
  uint64_t ms = static_cast<uint64_t>(frame * kSampleRate / options.rate / 8 * 8 / 8);
  for (const GeneratorOptions::Pause& p : options.pauses)
    if (p.frame > 0 && p.frame <= frame) ms += p.milliseconds;
  return ms;
}

int AudioSamplesOfFrame(int64_t frame, int rate) {
  auto before = [rate](int64_t n) { return n * kSampleRate / rate / 8 * 8; };
  return static_cast<int>(before(frame + 1) - before(frame));
}

bool GenerateRecording(const GeneratorOptions& options, GeneratorReport& report, const PictureObserver& observer) {
  report = GeneratorReport{};
  Run run{options, report, observer};
  report.blocks = 1;
  if (!run.Setup()) return false;
  const bool ok = options.stress ? run.StressFrames() : run.SourceFrames();
  if (!ok) {
    (void)run.writer.Close();  // the generation has failed already
    return false;
  }
  return run.Finish();
}

}  // namespace zentrova::zrgen
