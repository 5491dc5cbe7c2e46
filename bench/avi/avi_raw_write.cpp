// Writes FRAMES uncompressed 704 x 576 frames, with 320 audio samples before each, through the
// AVI layer as the conversion does, and prints the bytes of the file and the seconds it took.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "avi/AviFile.h"
#include "avi/Compressor.h"

using namespace zentrova;
using namespace zentrova::avi;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: avi_raw_write OUTPUT.avi FRAMES\n");
    return 2;
  }
  constexpr int kWidth = 704, kHeight = 576, kAudio = 320;
  const int frames = std::atoi(argv[2]);
  std::vector<uint8_t> picture(size_t{kWidth} * kHeight * 3);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7);
  std::vector<int16_t> pcm(kAudio, 100);

  const auto start = std::chrono::steady_clock::now();
  {
    auto opened = OpenAviFile(argv[1]);
    if (!opened) {
      std::fprintf(stderr, "%s: %s\n", argv[1], opened.reason().c_str());
      return 1;
    }
    std::shared_ptr<OutputFile> file = std::move(*opened);
    StreamInfo vi;
    vi.fccType = FourCC('v', 'i', 'd', 's');
    vi.dwScale = 1;
    vi.dwRate = 25;
    vi.dwInitialFrames = 1;
    vi.dwSuggestedBufferSize = static_cast<uint32_t>(picture.size());
    vi.rcFrame = {0, 0, kWidth, kHeight};
    StreamInfo ai;
    ai.fccType = FourCC('a', 'u', 'd', 's');
    ai.dwScale = 2;
    ai.dwRate = 16000;
    ai.dwInitialFrames = 1;
    ai.dwSuggestedBufferSize = 1920;
    ai.dwSampleSize = 2;
    BitmapInfoHeader bih;
    bih.biWidth = kWidth;
    bih.biHeight = kHeight;
    WaveFormatEx wfx;
    std::shared_ptr<OutputStream> video = file->CreateStream(vi).valueOr(nullptr);
    std::shared_ptr<OutputStream> compressed = video ? MakeCompressedStream(video, {"raw", 100}).valueOr(nullptr) : nullptr;
    std::shared_ptr<OutputStream> audio = file->CreateStream(ai).valueOr(nullptr);
    if (!compressed || !compressed->SetFormat(0, &bih, sizeof bih) || !audio || !audio->SetFormat(0, &wfx, sizeof wfx))
      return 1;
    int32_t position = 0;
    for (int i = 0; i < frames; ++i) {
      if (audio->Write(position, kAudio, pcm.data(), kAudio * 2, 0)) position += kAudio;
      if (!compressed->Write(i, 1, picture.data(), static_cast<int32_t>(picture.size()), kKeyFrame)) return 1;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%llu %.3f\n", static_cast<unsigned long long>(std::filesystem::file_size(argv[1])), seconds);
  return 0;
}
