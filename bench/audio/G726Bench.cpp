// Decoding and encoding throughput of the 24 kbit/s G.726 coder, in samples per second. At 8000
// samples/s, the real-time factor is the reported rate divided by 8000. The decoder's kernel is
// also timed at every instruction-set level this processor has (g726.decode/<level>, one second
// of sound per iteration, the portable reference as "c"); ZENTROVA_CPU_MASK lowers the levels
// walked, as it lowers the program's.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "audio/CodePacking.h"
#include "audio/G726Decoder.h"
#include "audio/G726Dsp.h"
#include "audio/G726State.h"
#include "base/CpuFlags.h"

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

// One second of codes through one kernel, the state running on across iterations: the
// speech-like codes (argument 0) or random codes (1), where no branch on the signal predicts.
void RunDecodeKernel(benchmark::State& state, zentrova::G726DecodeRun decode) {
  constexpr int32_t kSecond = 8000;
  const std::vector<uint8_t> packed = RealisticCodes();
  std::vector<uint8_t> codes;
  for (int32_t at = 0; at + 3 <= kBytes && codes.size() < kSecond; at += 3)
    for (uint8_t code : zentrova::g726::UnpackCodes(packed.data() + at)) codes.push_back(code);
  if (state.range(0) == 1) {
    uint32_t seed = 27;
    for (uint8_t& code : codes) code = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 29);
  }
  std::vector<int16_t> out(kSecond);
  zentrova::G726State decoderState;
  for (auto _ : state) {
    decode(codes.data(), out.data(), kSecond, decoderState);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kSecond);
}

const bool kRegistered = [] {
  const uint32_t available = zentrova::CpuFlags();
  for (const zentrova::CpuLevel& level : zentrova::kCpuLevels) {
    if ((level.flags & available) != level.flags) continue;
    zentrova::G726Dsp dsp;
    zentrova::InitG726Dsp(dsp, level.flags);
    benchmark::RegisterBenchmark((std::string("g726.decode/") + level.name).c_str(),
                                 [decode = dsp.decode](benchmark::State& s) { RunDecodeKernel(s, decode); })
        ->Arg(0)
        ->Arg(1);
  }
  return true;
}();

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
