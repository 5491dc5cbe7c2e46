// Frames per second of each compressor on 704 x 576 pictures, written through the AVI layer into
// a sink that drops the bytes, so that only the conversion, the encoder and the layout count.
// Wall-clock time: the H.264 encoder runs threads of its own. (Uncompressed writing is measured
// against the disk by throughput.sh.)
#include <benchmark/benchmark.h>

#include <vector>

#include "avi/AviFile.h"
#include "avi/Compressor.h"

namespace {

using namespace zentrova;
using namespace zentrova::avi;

class DiscardSink final : public ByteSink {
 public:
  bool WriteAt(uint64_t, std::initializer_list<Piece>) override { return true; }
  bool Truncate(uint64_t) override { return true; }
};

constexpr int kWidth = 704, kHeight = 576;

// A moving gradient: something for the encoders to do in every frame.
std::vector<uint8_t> Picture(int frame) {
  std::vector<uint8_t> p(size_t{kWidth} * kHeight * 3);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth * 3; ++x) p[static_cast<size_t>(y) * kWidth * 3 + x] = static_cast<uint8_t>(x / 3 + y + frame * 3);
  return p;
}

void Compress(benchmark::State& state, const char* codec) {
  std::shared_ptr<OutputFile> file = OpenAviFile(std::make_unique<DiscardSink>()).valueOr(nullptr);
  if (!file) {
    state.SkipWithError("the AVI writer cannot be opened");
    return;
  }
  StreamInfo info;
  info.fccType = FourCC('v', 'i', 'd', 's');
  info.dwScale = 1;
  info.dwRate = 25;
  BitmapInfoHeader bih;
  bih.biWidth = kWidth;
  bih.biHeight = kHeight;
  std::shared_ptr<OutputStream> video = file->CreateStream(info).valueOr(nullptr);
  std::shared_ptr<OutputStream> compressed = video ? MakeCompressedStream(video, {codec, 90}).valueOr(nullptr) : nullptr;
  if (!compressed || !compressed->SetFormat(0, &bih, sizeof bih)) {
    state.SkipWithError("compressor not available");
    return;
  }
  std::vector<std::vector<uint8_t>> pictures;
  for (int i = 0; i < 16; ++i) pictures.push_back(Picture(i));
  int32_t frame = 0;
  for (auto _ : state) {
    const auto& p = pictures[frame % pictures.size()];
    (void)compressed->Write(frame++, 1, p.data(), static_cast<int32_t>(p.size()), kKeyFrame);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
}

BENCHMARK_CAPTURE(Compress, mjpeg, "mjpeg")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Compress, mpeg4, "mpeg4")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Compress, h264, "h264")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Compress, ffv1, "ffv1")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
