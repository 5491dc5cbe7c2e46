// Fuzz target: arbitrary bytes as a recording file, opened and drained frame by frame.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "recording/ZrReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/zentrova-fuzz-recording-" + std::to_string(::getpid()) + ".zr";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  zentrova::ZrReader reader;
  zentrova::RecordingInfo info;
  if (!reader.open(path, &info, 0, 1)) return 0;
  std::vector<uint8_t> video(4096), audio(4096);
  zentrova::FrameRecord record;
  record.videoData = video.data();
  record.videoCapacity = static_cast<uint32_t>(video.size());
  record.audioData = audio.data();
  record.audioCapacity = static_cast<uint32_t>(audio.size());
  for (int32_t i = 0; i < reader.frameCount() && reader.fetchFrame(&record, -1, 0); ++i) {
    if (record.videoBytes > record.videoCapacity || record.audioBytes > record.audioCapacity) __builtin_trap();
  }
  reader.fetchFrame(&record, 0, 3);
  return 0;
}
