// Whole-frame decode rate: recordings written by the encoder (the moving pattern, an intra
// picture every 25, quantiser 8, three aligned groups) decoded to 24-bit pictures on one
// thread. items_per_second is frames per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "RecordingFrames.h"
#include "zrgen/RecordingGenerator.h"
#include "video/VideoDecoder.h"

namespace zentrova {
namespace {

struct Case {
  uint8_t resolutionCode;
  uint16_t version;
};

// Older generation 352x288 (code 130, version 257); newer generation 704x288 (code 133,
// version 4096), coded at 352x288 and delivered widened.
constexpr Case kOlder352x288{130, 257};
constexpr Case kNewer704x288{133, 4096};

const bench::RecordingFrames& Recording(const Case& c, IdctChoice idct) {
  static std::map<std::pair<int, int>, bench::RecordingFrames> cache;
  const auto key = std::make_pair(static_cast<int>(c.resolutionCode), static_cast<int>(idct));
  auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  zrgen::GeneratorOptions options;
  options.output = (std::filesystem::temp_directory_path() /
                    ("zentrova-decode-bench-" + std::to_string(c.resolutionCode) + ".zr"))
                       .string();
  options.resolutionCode = c.resolutionCode;
  options.version = c.version;
  options.frames = 100;
  options.quantiser = 8;
  options.intraPeriod = 25;
  options.groupCount = 3;
  options.idct = idct;
  options.audio = zrgen::AudioInput::None;
  zrgen::GeneratorReport report;
  bench::RecordingFrames frames;
  std::string error;
  if (!zrgen::GenerateRecording(options, report) || !bench::LoadRecordingFrames(options.output, frames, error))
    std::fprintf(stderr, "cannot build the benchmark recording: %s %s\n", report.error.c_str(), error.c_str());
  std::filesystem::remove(options.output);
  return cache.emplace(key, std::move(frames)).first->second;
}

void DecodeFrames(benchmark::State& state, Case c) {
  const auto idct = static_cast<IdctChoice>(state.range(0));
  const bench::RecordingFrames& rec = Recording(c, idct);
  if (rec.pictures.empty()) {
    state.SkipWithError("no recording");
    return;
  }
  VideoDecoder decoder;
  decoder.Initialise(rec.stamp, idct);
  std::vector<uint8_t> picture(static_cast<size_t>(rec.width) * rec.height * 3);
  size_t next = 0;
  for (auto _ : state) {
    const auto& p = rec.pictures[next];
    benchmark::DoNotOptimize(decoder.DecodeFrame(p.data(), static_cast<uint32_t>(p.size()), picture.data(), picture.size()));
    next = next + 1 == rec.pictures.size() ? 0 : next + 1;  // back to the first (intra) picture
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes_per_frame"] = static_cast<double>(rec.videoBytes) / static_cast<double>(rec.pictures.size());
}

void ArgumentsPlainVector(benchmark::internal::Benchmark* b) {
  b->ArgName("idct")->Arg(static_cast<int>(IdctChoice::Plain))->Arg(static_cast<int>(IdctChoice::Vector));
}

BENCHMARK_CAPTURE(DecodeFrames, older_352x288, kOlder352x288)->Apply(ArgumentsPlainVector);
BENCHMARK_CAPTURE(DecodeFrames, newer_704x288, kNewer704x288)->Apply(ArgumentsPlainVector);

}  // namespace
}  // namespace zentrova
