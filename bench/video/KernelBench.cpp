// Speed of every entry of every video kernel table at every instruction-set level this
// processor has (named <family>.<entry>/<level>), beside the references the equivalence test
// holds them to: the inverse DCT and the block writes per block, colour conversion per megapixel,
// the enlargement and plane row kernels per row. ZENTROVA_CPU_MASK lowers the levels walked, as
// it lowers the program's.
#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/CpuFlags.h"
#include "video/BlockReconstruction.h"
#include "video/ColourConversion.h"
#include "video/InverseDct.h"
#include "video/PictureEnlargement.h"
#include "video/PictureEnlargementRows.h"
#include "video/PlaneRows.h"
#include "video/VideoDsp.h"

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

// The pools are random, so the column-by-column layout does not change the work, except that DC
// alone stays at index 0 in both.
void RunIdct(benchmark::State& state, BlockTransform transform) {
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

// Two blocks per call; items count blocks.
void RunIdctPair(benchmark::State& state, BlockPairTransform transform) {
  const std::vector<Block> blocks = MakeBlocks(state.range(0));
  alignas(16) int16_t out[2][64];
  size_t i = 0;
  for (auto _ : state) {
    transform(blocks[i].data(), blocks[i + 1].data(), out[0], out[1]);
    benchmark::DoNotOptimize(out);
    i = (i + 2) & (blocks.size() - 1);
  }
  state.SetItemsProcessed(2 * state.iterations());
}

struct Planes {
  std::vector<uint8_t> y, cb, cr;
  explicit Planes(size_t luma) : y(luma), cb(luma / 4), cr(luma / 4) {
    std::mt19937 rng(3);
    for (auto* p : {&y, &cb, &cr})
      for (auto& v : *p) v = static_cast<uint8_t>(rng());
  }
};

// Width and height from the arguments; `rows` output rows per input row (2 when line-doubled).
void RunConversion(benchmark::State& state, PictureConversion convert, int rows) {
  const int32_t width = static_cast<int32_t>(state.range(0));
  const int32_t height = static_cast<int32_t>(state.range(1));
  const Planes planes(static_cast<size_t>(width) * height);
  std::vector<uint8_t> picture(3 * static_cast<size_t>(rows) * width * height + 32);
  // On 32 bytes, as the frames in flight are.
  uint8_t* at = picture.data() + (32 - reinterpret_cast<uintptr_t>(picture.data()) % 32) % 32;
  for (auto _ : state) {
    convert(at, planes.y.data(), planes.cb.data(), planes.cr.data(), width, height);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * width * height);
  // Seconds per megapixel (printed with SI prefixes: 1.5m = 1.5 ms).
  state.counters["s_per_megapixel"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * width * height / 1e6,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One row of the argument's source samples; items are source samples.
void RunEnlargementRows(benchmark::State& state, const EnlargementRows& rows, bool doubling) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const Planes source(4 * static_cast<size_t>(n));
  std::vector<uint8_t> even(2 * static_cast<size_t>(n)), odd(even.size());
  for (auto _ : state) {
    if (doubling)
      rows.doubleRow(even.data(), odd.data(), source.y.data(), source.y.data() + n, n, 0);
    else
      rows.widen(even.data(), source.y.data(), n, 0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// One row of the argument's samples, made from a row and the one below and mapped to the studio
// range (the work of the chroma of a line-doubled picture), or averaged alone.
void RunPlaneRow(benchmark::State& state, const PlaneRowsDsp& dsp, bool average) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const Planes source(4 * static_cast<size_t>(n));
  std::vector<uint8_t> out(static_cast<size_t>(n));
  for (auto _ : state) {
    if (average)
      dsp.averageRows(out.data(), source.y.data(), source.y.data() + n, static_cast<size_t>(n));
    else
      dsp.writeRow(out.data(), source.y.data(), source.y.data() + n, n, RowDoubling::ChromaOfAverage,
                   SampleRange::StudioChroma, 1);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// One block into a picture of the argument's width, the blocks walking along its rows as a
// picture's macroblocks do; items are blocks.
void RunBlockWrite(benchmark::State& state, BlockWrite write) {
  const size_t stride = static_cast<size_t>(state.range(0));
  const std::vector<Block> blocks = MakeBlocks(0);
  std::vector<uint8_t> picture(8 * stride, 128);
  size_t i = 0, x = 0;
  for (auto _ : state) {
    write(blocks[i].data(), picture.data() + x, stride);
    benchmark::ClobberMemory();
    i = (i + 1) & (blocks.size() - 1);
    x = x + 16 < stride ? x + 8 : 0;
  }
  state.SetItemsProcessed(state.iterations());
}

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
    enlarge(destination.y.data(), destination.cb.data(), destination.cr.data(), source.y.data(), source.cb.data(),
            source.cr.data(), width, height, 0);
    benchmark::ClobberMemory();
    outW = width;
    outH = height;
  }
  state.SetItemsProcessed(state.iterations() * outW * outH);
}

void RegisterLevel(const std::string& level, const VideoDsp& dsp) {
  auto idct = [&](const std::string& name, BlockTransform t) {
    benchmark::RegisterBenchmark((name + "/" + level).c_str(), [t](benchmark::State& s) { RunIdct(s, t); })
        ->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
  };
  auto idctPair = [&](const std::string& name, BlockPairTransform t) {
    benchmark::RegisterBenchmark((name + "/" + level).c_str(), [t](benchmark::State& s) { RunIdctPair(s, t); })
        ->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
  };
  idct("plainIdct.scan", dsp.plainIdct.scan);
  idct("plainIdct.columns", dsp.plainIdct.columns);
  idctPair("plainIdct.columnPair", dsp.plainIdct.columnPair);
  idct("vectorIdct.scan", dsp.vectorIdct.scan);
  idct("vectorIdct.columns", dsp.vectorIdct.columns);
  idctPair("vectorIdct.columnPair", dsp.vectorIdct.columnPair);

  const PictureConversion picture = dsp.colour.picture, doubled = dsp.colour.doubled;
  const PictureConversion streamed = dsp.colour.streamed;
  benchmark::RegisterBenchmark(("colour.picture/" + level).c_str(),
                               [picture](benchmark::State& s) { RunConversion(s, picture, 1); })
      ->Args({704, 288})->Args({640, 480});
  // Into one picture again and again, which the cache holds: what streaming costs where it
  // does not pay (it pays for pictures that go out to memory anyway, as frames in flight do).
  benchmark::RegisterBenchmark(("colour.streamed/" + level).c_str(),
                               [streamed](benchmark::State& s) { RunConversion(s, streamed, 1); })
      ->Args({704, 288});
  benchmark::RegisterBenchmark(("colour.doubled/" + level).c_str(),
                               [doubled](benchmark::State& s) { RunConversion(s, doubled, 2); })
      ->Args({704, 288});

  const EnlargementRows rows = dsp.enlargement;
  benchmark::RegisterBenchmark(("enlargement.widen/" + level).c_str(),
                               [rows](benchmark::State& s) { RunEnlargementRows(s, rows, false); })
      ->Arg(352);
  benchmark::RegisterBenchmark(("enlargement.doubleRow/" + level).c_str(),
                               [rows](benchmark::State& s) { RunEnlargementRows(s, rows, true); })
      ->Arg(176);

  for (const auto& [name, write] : {std::pair{"blocks.store", dsp.blocks.store}, std::pair{"blocks.add", dsp.blocks.add}}) {
    benchmark::RegisterBenchmark((std::string(name) + "/" + level).c_str(),
                                 [write](benchmark::State& s) { RunBlockWrite(s, write); })
        ->Arg(352);
  }

  const PlaneRowsDsp planeRows = dsp.planeRows;
  benchmark::RegisterBenchmark(("planeRows.averageRows/" + level).c_str(),
                               [planeRows](benchmark::State& s) { RunPlaneRow(s, planeRows, true); })
      ->Arg(2112);
  benchmark::RegisterBenchmark(("planeRows.writeRow/" + level).c_str(),
                               [planeRows](benchmark::State& s) { RunPlaneRow(s, planeRows, false); })
      ->Arg(352);
}

// The references, and the whole enlargement as the decoder calls it.
void RegisterReferences() {
  benchmark::RegisterBenchmark("reference.InverseDctPortable",
                               [](benchmark::State& s) { RunIdct(s, InverseDctPortable); })
      ->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
  benchmark::RegisterBenchmark("reference.InverseDctVectorScalar",
                               [](benchmark::State& s) { RunIdct(s, InverseDctVectorScalar); })
      ->Arg(0)->Arg(1)->Arg(2)->ArgName("kind");
  benchmark::RegisterBenchmark("reference.ConvertToRgb24Reference",
                               [](benchmark::State& s) { RunConversion(s, ConvertToRgb24Reference, 1); })
      ->Args({704, 288});
  benchmark::RegisterBenchmark("EnlargePicture", [](benchmark::State& s) { RunEnlargement(s, EnlargePicture); })
      ->Args({352, 288})->Args({320, 240})->Args({176, 144})->Args({160, 128});
  benchmark::RegisterBenchmark("reference.EnlargePictureScalar",
                               [](benchmark::State& s) { RunEnlargement(s, EnlargePictureScalar); })
      ->Args({352, 288})->Args({176, 144});
}

const bool kRegistered = [] {
  const uint32_t available = CpuFlags();
  for (const CpuLevel& level : kCpuLevels) {
    if ((level.flags & available) != level.flags) continue;
    VideoDsp dsp;
    InitVideoDsp(dsp, level.flags);
    RegisterLevel(level.name, dsp);
  }
  RegisterReferences();
  return true;
}();

}  // namespace
}  // namespace zentrova
