// Decoding and encoding throughput of the 24 kbit/s G.726 coder, in samples per second. At 8000
// samples/s, the real-time factor is the reported rate divided by 8000.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "audio/G726Decoder.h"

namespace {

constexpr int32_t kBytes = zentrova::G726Decoder::kBufferBytes;  // one full call: 24000 samples
constexpr int32_t kSamples = kBytes / 3 * 8;

// Speech-like codes: a wandering two-tone signal through our own encoder.
std::vector<uint8_t> RealisticCodes() {
  std::vector<int16_t> pcm(kSamples);
  for (int n = 0; n < kSamples; ++n) {
    const double t = n / 8000.0;
    const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
    pcm[n] = static_cast<int16_t>(envelope * (3000 * std::sin(2 * std::numbers::pi * 300 * t * (1 + t)) +
                                              1000 * std::sin(2 * std::numbers::pi * 2200 * t)));
  }
  zentrova::G726Decoder encoder;
  std::vector<uint8_t> codes(kBytes);
  if (!encoder.Prepare(1) || !encoder.Encode(pcm.data(), codes.data(), kSamples)) std::abort();
  return codes;
}

void BM_Decode(benchmark::State& state) {
  const std::vector<uint8_t> codes = RealisticCodes();
  std::vector<int16_t> out(kSamples);
  zentrova::G726Decoder decoder;
  if (!decoder.Prepare(0)) std::abort();
  for (auto _ : state) {
    static_cast<void>(decoder.Decode(codes.data(), out.data(), kBytes));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
  state.counters["realtime_x"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kSamples / 8000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Decode);

void BM_Encode(benchmark::State& state) {
  std::vector<int16_t> pcm(kSamples);
  for (int n = 0; n < kSamples; ++n) pcm[n] = static_cast<int16_t>(3000 * std::sin(2 * std::numbers::pi * 440 * n / 8000.0));
  std::vector<uint8_t> codes(kBytes);
  zentrova::G726Decoder encoder;
  if (!encoder.Prepare(1)) std::abort();
  for (auto _ : state) {
    static_cast<void>(encoder.Encode(pcm.data(), codes.data(), kSamples));
    benchmark::DoNotOptimize(codes.data());
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
  state.counters["realtime_x"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kSamples / 8000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Encode);

}  // namespace

BENCHMARK_MAIN();
