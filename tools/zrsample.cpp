// Writes a small recording for the demo: a few frames in one block (pictures and sound arrive
// with the recording generator).
#include <cstdio>
#include <vector>

#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zrsample OUTPUT.zr\n");
    return 2;
  }
  zentrova::ZrHeaderFields fields;
  fields.version = zentrova::kVersionOlder;
  fields.resolutionCode = 130;  // 352 x 288
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + 2;
  fields.text1 = "Zentrova sample";
  zentrova::ZrWriter writer;
  if (!writer.Open(argv[1], fields)) return 1;
  std::vector<uint8_t> audio(300, 0);
  for (int i = 0; i < 50; ++i) {
    zentrova::ZrFrame frame;
    frame.flags = zentrova::FlagAudio;
    frame.audio = audio;
    if (!writer.WriteFrame(frame)) return 1;
  }
  return writer.Close() ? 0 : 1;
}
