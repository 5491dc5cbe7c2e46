// video_decode_rate: decodes every picture of a ZR recording to 24-bit pictures on one thread,
// several passes over the frames held in memory, and prints the rate in frames per second.
//   video_decode_rate recording.zr [passes] [auto|plain|vector]
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "RecordingFrames.h"
#include "video/VideoDecoder.h"

int main(int argc, char** argv) {
  using namespace zentrova;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s recording.zr [passes] [auto|plain|vector]\n", argv[0]);
    return 2;
  }
  const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string idct = argc > 3 ? argv[3] : "auto";
  bench::RecordingFrames rec;
  std::string error;
  if (!bench::LoadRecordingFrames(argv[1], rec, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  VideoDecoder decoder;
  const IdctChoice choice = idct == "plain" ? IdctChoice::Plain : idct == "vector" ? IdctChoice::Vector : IdctChoice::Auto;
  if (!decoder.Initialise(rec.stamp, choice)) return 1;
  std::vector<uint8_t> picture(static_cast<size_t>(rec.width) * rec.height * 3);
  long failed = 0;
  // One pass to warm the caches, then the timed ones; every pass starts on the first (intra) picture.
  for (const auto& p : rec.pictures)
    failed += decoder.DecodeFrame(p.data(), static_cast<uint32_t>(p.size()), picture.data(), picture.size()).failed;
  // Processor time of this process, like ffmpeg's -benchmark utime, so that other work on a busy
  // machine does not count; the wall time is printed beside it.
  auto cpuSeconds = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  };
  const double cpuStart = cpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (int pass = 0; pass < passes; ++pass)
    for (const auto& p : rec.pictures)
      decoder.DecodeFrame(p.data(), static_cast<uint32_t>(p.size()), picture.data(), picture.size());
  const double seconds = cpuSeconds() - cpuStart;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double frames = static_cast<double>(rec.pictures.size()) * passes;
  std::printf("pictures %zu, %dx%d, %.0f bytes/picture, idct %s, failed %ld\n", rec.pictures.size(), rec.width,
              rec.height, static_cast<double>(rec.videoBytes) / rec.pictures.size(),
              decoder.usesVectorTransform() ? "vector" : "plain", failed);
  std::printf("fps %.1f (processor time; %.1f by the wall clock)\n", frames / seconds, frames / wall);
  return 0;
}
