// Makes a long recording for the large-file script: FRAMES frames over SECONDS seconds at a
// resolution code, every frame with 300 audio bytes (800 samples) and no picture.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: zr_long_recording OUTPUT.zr RESOLUTION_CODE FRAMES SECONDS\n");
    return 2;
  }
  const int code = std::atoi(argv[2]);
  zentrova::ZrHeaderFields fields;
  const bool newer = code == 4 || code == 5 || code == 132 || code == 133;
  fields.version = newer ? zentrova::kVersionNewer : zentrova::kVersionOlder;
  fields.resolutionCode = static_cast<uint8_t>(code);
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + std::atoi(argv[4]);
  zentrova::ZrWriter writer;
  if (!writer.Open(argv[1], fields)) return 1;
  const std::vector<uint8_t> audio(300, 0x5A);
  const long frames = std::atol(argv[3]);
  for (long i = 0; i < frames; ++i) {
    zentrova::ZrFrame frame;
    frame.flags = zentrova::FlagAudio | zentrova::FlagNoPicture;
    frame.audio = audio;
    if (!writer.WriteFrame(frame)) return 1;
  }
  return writer.Close() ? 0 : 1;
}
