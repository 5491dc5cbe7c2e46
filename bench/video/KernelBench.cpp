// Speed of the video kernels: the inverse DCT per block in each implementation, colour
// conversion per megapixel, and the picture enlargements.
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "video/ColourConversion.h"
#include "video/InverseDct.h"
#include "video/PictureEnlargement.h"
#include "video/ProcessorFeatures.h"

namespace zentrova {
namespace {

using Block = std::array<int16_t, 64>;

// Kinds of block pool: 0 = like those of coded pictures (a DC term and up to nine mostly
// low-frequency coefficients), 1 = every position filled, 2 = DC alone.
std::vector<Block> MakeBlocks(int64_t kind) {
  const bool dense = kind == 1;
  std::mt19937 rng(11);
  std::normal_distribution<double> level(0.0, 60.0);
  std::normal_distribution<double> position(0.0, 10.0);
  std::vector<Block> blocks(4096);
  for (Block& b : blocks) {
    b.fill(0);
    b[0] = static_cast<int16_t>(8 * (rng() % 254 + 1));
    const int terms = kind == 2 ? 0 : dense ? 64 : static_cast<int>(rng() % 10);
    for (int i = 0; i < terms; ++i) {
      const int index = dense ? i : std::min(63, static_cast<int>(std::abs(position(rng))));
      b[index] = static_cast<int16_t>(level(rng));
    }
  }
  return blocks;
}

void RunIdct(benchmark::State& state, void (*transform)(const int16_t*, int16_t*)) {
  const std::vector<Block> blocks = MakeBlocks(state.range(0));
  alignas(16) int16_t out[64];
  size_t i = 0;
  for (auto _ : state) {
    transform(blocks[i].data(), out);
    benchmark::DoNotOptimize(out);
    i = (i + 1) & (blocks.size() - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_IdctPlain(benchmark::State& state) { RunIdct(state, InverseDct); }
void BM_IdctPlainPortable(benchmark::State& state) { RunIdct(state, InverseDctPortable); }
BENCHMARK(BM_IdctPlainPortable)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
#if defined(__SSE2__)
void BM_IdctPlainAvx2(benchmark::State& state) {
  if (!ProcessorHasAvx2()) return state.SkipWithError("no AVX2");
  RunIdct(state, InverseDctAvx2);
}
BENCHMARK(BM_IdctPlainAvx2)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
#endif
void BM_IdctVectorScalar(benchmark::State& state) { RunIdct(state, InverseDctVectorScalar); }
BENCHMARK(BM_IdctPlain)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
BENCHMARK(BM_IdctVectorScalar)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
#if defined(__SSE2__)
void BM_IdctVectorSse2(benchmark::State& state) { RunIdct(state, InverseDctVectorSse2); }
BENCHMARK(BM_IdctVectorSse2)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");

// The entry points the decoder calls, on coefficients already in the column-by-column layout
// (the pools are random, so their layout does not change the work, except that DC alone stays
// at index 0).
void BM_IdctPlainColumns(benchmark::State& state) { RunIdct(state, InverseDctColumns); }
BENCHMARK(BM_IdctPlainColumns)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
void BM_IdctVectorSse2Columns(benchmark::State& state) { RunIdct(state, InverseDctVectorSse2Columns); }
BENCHMARK(BM_IdctVectorSse2Columns)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");

// Two blocks per call; items count blocks.
void BM_IdctVectorAvx2PairColumns(benchmark::State& state) {
  if (!ProcessorHasAvx2()) return state.SkipWithError("no AVX2");
  const std::vector<Block> blocks = MakeBlocks(state.range(0));
  alignas(16) int16_t out[2][64];
  size_t i = 0;
  for (auto _ : state) {
    InverseDctVectorAvx2PairColumns(blocks[i].data(), blocks[i + 1].data(), out[0], out[1]);
    benchmark::DoNotOptimize(out);
    i = (i + 2) & (blocks.size() - 1);
  }
  state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_IdctVectorAvx2PairColumns)->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
#endif

struct Planes {
  std::vector<uint8_t> y, cb, cr;
  explicit Planes(size_t luma) : y(luma), cb(luma / 4), cr(luma / 4) {
    std::mt19937 rng(3);
    for (auto* p : {&y, &cb, &cr})
      for (auto& v : *p) v = static_cast<uint8_t>(rng());
  }
};

using Convert = void (*)(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int32_t, int32_t);

void RunConversion(benchmark::State& state, Convert convert) {
  const int32_t width = static_cast<int32_t>(state.range(0));
  const int32_t height = static_cast<int32_t>(state.range(1));
  const Planes planes(static_cast<size_t>(width) * height);
  std::vector<uint8_t> picture(3 * static_cast<size_t>(width) * height);
  for (auto _ : state) {
    convert(picture.data(), planes.y.data(), planes.cb.data(), planes.cr.data(), width, height);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * width * height);
  // Seconds per megapixel (printed with SI prefixes: 1.5m = 1.5 ms).
  state.counters["s_per_megapixel"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * width * height / 1e6,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ConvertToRgb24(benchmark::State& state) { RunConversion(state, ConvertToRgb24); }
void BM_ConvertToRgb24Scalar(benchmark::State& state) { RunConversion(state, ConvertToRgb24Scalar); }
void BM_ConvertToRgb24Reference(benchmark::State& state) { RunConversion(state, ConvertToRgb24Reference); }
BENCHMARK(BM_ConvertToRgb24)->Args({704, 288})->Args({640, 480});
BENCHMARK(BM_ConvertToRgb24Scalar)->Args({704, 288});
#if defined(__SSE2__)
void BM_ConvertToRgb24Sse2(benchmark::State& state) { RunConversion(state, ConvertToRgb24Sse2); }
BENCHMARK(BM_ConvertToRgb24Sse2)->Args({704, 288});
void BM_ConvertToRgb24Ssse3(benchmark::State& state) { RunConversion(state, ConvertToRgb24Ssse3); }
BENCHMARK(BM_ConvertToRgb24Ssse3)->Args({704, 288});
#endif
BENCHMARK(BM_ConvertToRgb24Reference)->Args({704, 288});

using Enlarge = void (*)(uint8_t*, uint8_t*, uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int32_t&,
                        int32_t&, int);

// Source width and height; mode 0. Items are destination luma samples.
void RunEnlargement(benchmark::State& state, Enlarge enlarge) {
  const Planes source(307200);
  Planes destination(307200);
  int32_t outW = 0, outH = 0;
  for (auto _ : state) {
    int32_t width = static_cast<int32_t>(state.range(0));
    int32_t height = static_cast<int32_t>(state.range(1));
    enlarge(destination.y.data(), destination.cb.data(), destination.cr.data(), source.y.data(),
                   source.cb.data(), source.cr.data(), width, height, 0);
    benchmark::ClobberMemory();
    outW = width;
    outH = height;
  }
  state.SetItemsProcessed(state.iterations() * outW * outH);
}
void BM_EnlargePicture(benchmark::State& state) { RunEnlargement(state, EnlargePicture); }
void BM_EnlargePictureScalar(benchmark::State& state) { RunEnlargement(state, EnlargePictureScalar); }
BENCHMARK(BM_EnlargePicture)->Args({352, 288})->Args({320, 240})->Args({176, 144})->Args({160, 128});
BENCHMARK(BM_EnlargePictureScalar)->Args({352, 288})->Args({176, 144});

}  // namespace
}  // namespace zentrova
