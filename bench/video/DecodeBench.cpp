// Whole-frame decode rate: recordings written by the encoder (the moving pattern, an intra
// picture every 25, quantiser 8, three aligned groups) decoded to 24-bit pictures on one
// thread. items_per_second is frames per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>

#include "RecordingFrames.h"
#include "video/BitReader.h"
#include "video/BlockCoefficients.h"
#include "video/TcoefCode.h"
#include "video/VideoDecoder.h"
#include "zrgen/RecordingGenerator.h"

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
  options.output =
      (std::filesystem::temp_directory_path() / ("zentrova-decode-bench-" + std::to_string(c.resolutionCode) + ".zr"))
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
  if (!decoder.Initialise(rec.stamp, idct)) {
    state.SkipWithError("the video decoder cannot be prepared");
    return;
  }
  std::vector<uint8_t> picture(static_cast<size_t>(rec.width) * rec.height * 3);
  size_t next = 0;
  for (auto _ : state) {
    const auto& p = rec.pictures[next];
    benchmark::DoNotOptimize(
        decoder.DecodeFrame(p.data(), static_cast<uint32_t>(p.size()), picture.data(), picture.size()));
    next = next + 1 == rec.pictures.size() ? 0 : next + 1;  // back to the first (intra) picture
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes_per_frame"] = static_cast<double>(rec.videoBytes) / static_cast<double>(rec.pictures.size());
}

void ArgumentsPlainVector(benchmark::internal::Benchmark* b) {
  b->ArgName("idct")->Arg(static_cast<int>(IdctChoice::Plain))->Arg(static_cast<int>(IdctChoice::Vector));
}

// 4096 blocks of 15 events each, drawn like those of the busy pictures above: mostly short runs
// and small levels, one in twenty an ESCAPE.
std::vector<uint8_t> CoefficientStream(int& events) {
  std::mt19937 random(5);
  std::vector<uint8_t> bytes;
  uint64_t bits = 0;
  auto put = [&](uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i, ++bits) {
      if (bits % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
    }
  };
  auto putCode = [&](std::string_view code) {
    for (char ch : code) put(ch == '1', 1);
  };
  events = 0;
  for (int block = 0; block < 4096; ++block) {
    for (int e = 0; e < 15; ++e, ++events) {
      const bool last = e == 14;
      if (random() % 20 == 0) {
        putCode(kTcoefEscapeCode);
        put(last, 1);
        put(random() % 3, 6);
        put(random() % 256, 8);
        continue;
      }
      // Events of the table with run below 3 and level below 4 (last as needed).
      const TcoefEvent* chosen = nullptr;
      while (!chosen) {
        const TcoefEvent& t = kTcoefEvents[random() % 102];
        if (t.last == (last ? 1 : 0) && t.run < 3 && t.level < 4) chosen = &t;
      }
      putCode(chosen->code);
      put(random() % 2, 1);
    }
  }
  return bytes;
}

void BlockCoefficients(benchmark::State& state) {
  int events = 0;
  const std::vector<uint8_t> bytes = CoefficientStream(events);
  alignas(16) int16_t block[64];
  for (auto _ : state) {
    BitReader reader;
    reader.Reset(bytes.data(), bytes.size());
    for (int b = 0; b < 4096; ++b) {
      std::fill(block, block + 64, 0);
      benchmark::DoNotOptimize(DecodeBlockCoefficients(reader, block, 0, 7));
    }
    benchmark::DoNotOptimize(block);
  }
  state.SetItemsProcessed(state.iterations() * events);  // coefficient events per second
}
BENCHMARK(BlockCoefficients);

BENCHMARK_CAPTURE(DecodeFrames, older_352x288, kOlder352x288)->Apply(ArgumentsPlainVector);
BENCHMARK_CAPTURE(DecodeFrames, newer_704x288, kNewer704x288)->Apply(ArgumentsPlainVector);

}  // namespace
}  // namespace zentrova
