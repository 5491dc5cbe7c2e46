// zrgen: writes ZR recordings with real pictures and sound, the way the recorder does.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>

#include "Damage.h"
#include "Gallery.h"
#include "RecordingGenerator.h"

namespace {

using namespace zentrova::zrgen;

void PrintPicture(int frame, const EncodedPicture& p, bool withPsnr) {
  const char* kind = p.intra ? "I" : p.notCoded ? "N" : "P";
  std::printf("frame %5d %s %7zu bytes  skip %4d intra %4d inter %4d", frame, kind, p.bytes.size(), p.skipped,
              p.intraMacroblocks, p.interMacroblocks);
  if (withPsnr) std::printf("  PSNR Y %6.2f Cb %6.2f Cr %6.2f dB", p.psnrY, p.psnrCb, p.psnrCr);
  std::printf("\n");
}

void PrintSummary(const GeneratorOptions& o, const GeneratorReport& r) {
  const double frames = r.frames > 0 ? r.frames : 1;
  std::printf("%s: %d frames (%d pictures: %d intra, %d not coded; %d without picture), %d blocks, %d bytes\n",
              o.output.c_str(), r.frames, r.pictures, r.intraPictures, r.notCodedPictures, r.framesWithoutPicture,
              r.blocks, static_cast<int>(r.fileBytes));
  std::printf("coded %dx%d, video %.1f bytes/frame, audio %.1f bytes/frame\n", r.codedWidth, r.codedHeight,
              static_cast<double>(r.videoBytes) / frames, static_cast<double>(r.audioBytes) / frames);
  if (!o.stress)
    std::printf("PSNR Y %.2f dB (lowest %.2f), Cb %.2f dB, Cr %.2f dB\n", r.psnrY, r.minPsnrY, r.psnrCb, r.psnrCr);
}

int RunDamage(const DamageOptions& options) {
  DamageReport report;
  if (!WriteDamagedRecording(options, report)) {
    std::fprintf(stderr, "zrgen: %s\n", report.error.c_str());
    return 1;
  }
  std::printf("%s: %s, %llu bytes; %d frames, %d intact, %d showable; truth in %s\n", options.output.c_str(),
              DamageClassName(options.damage), static_cast<unsigned long long>(report.bytes), report.frames,
              report.intact, report.showable, report.truthPath.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zrgen: writes ZR recordings (pictures through a closed-loop encoder, G.726 sound)"};
  app.set_version_flag("--version", "zrgen " ZRGEN_VERSION);
  GeneratorOptions o;
  std::string video = "pattern", audio = "tone", idct = "auto", gallery;
  int code = o.resolutionCode;
  int version = o.version;
  bool quiet = false;

  app.add_option("output", o.output, "The recording to write (.zr)");
  app.add_option("-r,--resolution-code", code,
                 "Resolution code: 0-3 and 128-131 with version 257; 4, 5, 132, 133 with version 4096")
      ->capture_default_str();
  app.add_option("--format-version", version,
                 "Format version: 257 (older codec generation, coded at the recording size) or 4096 (newer "
                 "generation: 640x240 coded as 320x240, 704x288 as 352x288, 320x240 as 160x128, 352x288 as "
                 "176x144, enlarged by the decoder)")
      ->capture_default_str()->check(CLI::Range(0, 65535));
  app.add_option("-n,--frames", o.frames, "Number of frames (a raw source may end sooner)")->capture_default_str();
  app.add_option("--rate", o.rate, "Frames per second; each frame carries 8000/rate samples of sound")
      ->capture_default_str()->check(CLI::Range(1, 1000));
  app.add_option("-q,--quantiser", o.quantiser, "Quantiser of inter pictures (1-255)")
      ->capture_default_str()->check(CLI::Range(1, 255));
  app.add_option("--intra-quantiser", o.intraQuantiser, "Quantiser of intra pictures (1-255; 0: as --quantiser)")
      ->capture_default_str()->check(CLI::Range(0, 255));
  app.add_option("--intra-period", o.intraPeriod, "An intra picture every N pictures (1: all intra, 0: only the first)")
      ->capture_default_str()->check(CLI::NonNegativeNumber);
  app.add_option("-g,--groups", o.groupCount,
                 "Group count G: the last 10*G macroblocks of each picture start 16-bit aligned groups of ten")
      ->capture_default_str()->check(CLI::Range(0, 65535));
  app.add_option("--frames-per-block", o.framesPerBlock, "Frames in each block of the chain (0: one block)")
      ->capture_default_str()->check(CLI::NonNegativeNumber);
  app.add_option("--idct", idct,
                 "Inverse DCT of the decoder that closes the loop: auto, plain or vector; use the one the "
                 "conversion will use, or inter pictures drift by the transforms' rounding")
      ->capture_default_str()->check(CLI::IsMember({"auto", "plain", "vector"}));
  app.add_option("--video", video,
                 "Pictures: pattern (built-in, moving), still (the pattern standing still), or a file of raw "
                 "yuv420p frames at the recording's size, top row first ('-' = standard input)")
      ->capture_default_str();
  app.add_option("--audio", audio,
                 "Sound: tone, silence, none, or a file of raw s16le mono PCM at 8000 Hz ('-' = standard input)")
      ->capture_default_str();
  app.add_option("--tone-hz", o.toneHz, "Frequency of the tone")->capture_default_str();
  app.add_option("--tone-amplitude", o.toneAmplitude,
                 "Peak of the tone in 16-bit PCM terms (0-32767); sound is coded at a quarter of that, the "
                 "G.726 coder's 14-bit scale, and a conversion delivers it at that scale")
      ->capture_default_str()->check(CLI::Range(0.0, 32767.0));
  app.add_flag("--stress", o.stress,
               "Write the stress walk instead of a source: every TCOEF code and ESCAPE level, runs ending on "
               "position 63, all CBPY/CBPC values, quantisers 0, 1, 2, odd, even and 255, start codes up to bit "
               "160, unusual group counts, empty blocks and frames without pictures");
  app.add_option("--seed", o.seed, "Seed of the stress walk")->capture_default_str();
  app.add_option("--start-time", o.startTime, "Start of the recording, seconds since 1970 (UTC)")->capture_default_str();
  app.add_option("--create-tick", o.createTick,
                 "The recorder's millisecond counter when the file was created; blocks carry it on, wrapping "
                 "at 2^32 (4294960000 wraps after 7.3 s)")
      ->capture_default_str();
  std::vector<std::string> pauses;
  app.add_option("--pause", pauses,
                 "FRAME:SECONDS: the recorder paused before FRAME (which begins a new block), as a "
                 "motion-triggered recorder does; repeatable");
  app.add_option("--utc-offset", o.utcOffsetHours, "The recorder's hours east of UTC, modulo 24 (0-23)")
      ->capture_default_str()->check(CLI::Range(0, 23));
  app.add_option("--text1", o.text1, "First free text of the header")->capture_default_str();
  app.add_option("--text2", o.text2, "Second free text");
  app.add_option("--text3", o.text3, "Third free text");
  app.add_option("--gallery", gallery, "Write the fixture gallery into this folder instead of one recording");
  app.add_flag("--quiet", quiet, "Print only the summary, not a line per frame");
  app.footer(
      "Every picture is decoded by the converter's own decoder as it is written, and that decoder's\n"
      "reconstruction is the reference of the next picture. Per frame zrgen prints the kind (I intra,\n"
      "P inter, N not coded), the bytes, the macroblock choices and the PSNR of the decoded picture against\n"
      "the source; the summary gives bytes per frame and the mean PSNR.\n"
      "Pictures are coded bottom row first, so a converted recording plays upright.\n"
      "Example: ffmpeg -f lavfi -i testsrc2=size=352x288:rate=25 -t 4 -pix_fmt yuv420p -f rawvideo - |\n"
      "         zrgen --video - -r 130 -n 100 out.zr");

  DamageOptions damage;
  std::string damageClass;
  CLI::App* damageCommand = app.add_subcommand(
      "damage", "Damage recordings the way recorders and disks do, and write the truth (OUT.truth) beside them");
  damageCommand->add_option("class", damageClass, "What happened to the recording")
      ->required()->check(CLI::IsMember(DamageClassNames()));
  damageCommand->add_option("output", damage.output, "The damaged file to write")->required();
  damageCommand->add_option("inputs", damage.inputs,
                            "The intact recordings (several only for concatenated and disk-image)")
      ->required()->check(CLI::ExistingFile);
  damageCommand->add_option("--seed", damage.seed, "Chooses where and how: the same seed gives the same file")
      ->capture_default_str();
  damageCommand->add_option("--image-mb", damage.imageMegabytes, "Size of a disk image in MiB")
      ->capture_default_str()->check(CLI::Range(1, 4096));
  damageCommand->footer(
      "Classes: power-loss (end time never written, the last block's frame count stale, an earlier\n"
      "block's link never patched, perhaps cut inside the last frame), bad-sector-block, bad-sector-frame,\n"
      "bad-sector-video (512 or 4096 bytes of zeros or noise, 512-aligned, over a block header, a frame\n"
      "header or inside video bytes), lost-header (the first 4096 bytes zeroed, noise or cut away),\n"
      "truncated, concatenated, disk-image (the recordings whole or in 2-3 fragments at 4096-byte\n"
      "clusters among noise and zeros).\n"
      "OUT.truth: '#' lines saying what was done, then per frame of every input\n"
      "recording, frame, intact, showable, offset in OUT (-1 when not intact), picture (I, P or N).");
  CLI11_PARSE(app, argc, argv);

  if (damageCommand->parsed()) {
    damage.damage = *DamageClassNamed(damageClass);
    return RunDamage(damage);
  }

  if (!gallery.empty()) {
    std::string error;
    if (!WriteGallery(gallery, &error)) {
      std::fprintf(stderr, "zrgen: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (o.output.empty()) {
    std::fprintf(stderr, "zrgen: name the recording to write (see --help)\n");
    return 2;
  }
  for (const std::string& p : pauses) {
    const size_t colon = p.find(':');
    GeneratorOptions::Pause pause;
    try {
      if (colon == std::string::npos) throw std::invalid_argument(p);
      pause.frame = std::stoi(p.substr(0, colon));
      const double seconds = std::stod(p.substr(colon + 1));
      if (pause.frame < 1 || seconds < 0 || seconds > 4e6) throw std::out_of_range(p);
      pause.milliseconds = static_cast<uint32_t>(seconds * 1000 + 0.5);
    } catch (const std::exception&) {
      std::fprintf(stderr, "zrgen: --pause takes FRAME:SECONDS (a frame from 1 on), not \"%s\"\n", p.c_str());
      return 2;
    }
    o.pauses.push_back(pause);
  }
  o.resolutionCode = static_cast<uint8_t>(code);
  o.version = static_cast<uint16_t>(version);
  o.idct = idct == "plain" ? zentrova::IdctChoice::Plain
           : idct == "vector" ? zentrova::IdctChoice::Vector
                              : zentrova::IdctChoice::Auto;
  if (video == "pattern") o.video = VideoInput::Pattern;
  else if (video == "still") o.video = VideoInput::StillPattern;
  else {
    o.video = VideoInput::Yuv;
    o.yuvPath = video;
  }
  static const std::map<std::string, AudioInput> kAudio = {
      {"tone", AudioInput::Tone}, {"silence", AudioInput::Silence}, {"none", AudioInput::None}};
  const auto known = kAudio.find(audio);
  o.audio = known != kAudio.end() ? known->second : AudioInput::Pcm;
  if (o.audio == AudioInput::Pcm) o.pcmPath = audio;

  GeneratorReport report;
  const bool withPsnr = !o.stress;
  auto observer = [&](int frame, const EncodedPicture& p, const VideoEncoder&) {
    if (!quiet) PrintPicture(frame, p, withPsnr);
  };
  if (!GenerateRecording(o, report, observer)) {
    std::fprintf(stderr, "zrgen: %s\n", report.error.c_str());
    return 1;
  }
  PrintSummary(o, report);
  return 0;
}
