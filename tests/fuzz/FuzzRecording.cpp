// Fuzz target: arbitrary bytes as a recording file, opened and drained frame by frame into buffers
// of a few sizes, then read again by position. The file lives in memory, so nothing is left behind.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "recording/ZrReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zentrova::fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  // Buffers sized from the input's length, so that frames are sometimes cut to them.
  std::vector<uint8_t> video(size % 2 ? 4096 : 61), audio(size % 3 ? 4096 : 5);
  zentrova::FrameRecord record;
  record.videoData = video.data();
  record.videoCapacity = static_cast<uint32_t>(video.size());
  record.audioData = audio.data();
  record.audioCapacity = static_cast<uint32_t>(audio.size());

  zentrova::fuzz::AllocationBudget budget(data, size);
  zentrova::ZrReader reader;
  zentrova::RecordingInfo info;
  if (!reader.open(file.path(), &info)) return 0;
  // A second open is refused and leaves the first usable.
  if (reader.open(file.path(), &info)) __builtin_trap();
  int32_t fetched = 0;
  while (fetched < reader.frameCount() && reader.fetchFrame(&record, -1, 0)) {
    if (record.videoBytes > record.videoCapacity || record.audioBytes > record.audioCapacity) __builtin_trap();
    ++fetched;
  }
  // Every frame the count declares is there at most once; after the last one fetches fail.
  if (fetched == reader.frameCount() && reader.fetchFrame(&record, -1, 0)) __builtin_trap();
  const int32_t blocks = reader.blockCount();
  // Positioned fetches may fail; they must only fail cleanly.
  for (int32_t b = 0; b < blocks && b < 8; ++b) static_cast<void>(reader.fetchFrame(&record, b, static_cast<int32_t>(size % 5)));
  static_cast<void>(reader.fetchFrame(&record, blocks, 0));
  reader.close();
  reader.close();
  return 0;
}
