// Fuzz target: arbitrary bytes as a damaged recording or a disk image. The scan must end, find
// only frames that lie inside the file, and every recording it reports must read back through the
// reader without a frame beyond its buffers; the repair of the first one must stay bounded too.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "recording/RecordingScan.h"
#include "recording/ZrReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zentrova::fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  std::vector<uint8_t> video(size % 2 ? 4096 : 61), audio(4096);
  zentrova::fuzz::AllocationBudget budget(data, size);
  zentrova::ScanOptions options;
  if (size % 7 == 0) options.generation = 0x20020219;
  const zentrova::ScanResult scan = zentrova::ScanRecordingFile(file.path(), options);
  if (!scan.error.empty()) return 0;
  for (const zentrova::FoundRecording& found : scan.recordings) {
    if (found.end > size || found.start > found.end || found.frames == 0) __builtin_trap();
    zentrova::ZrReader reader;
    zentrova::RecordingInfo info;
    if (!reader.openFound(file.path(), found, &info)) continue;
    zentrova::FrameRecord record;
    record.videoData = video.data();
    record.videoCapacity = static_cast<uint32_t>(video.size());
    record.audioData = audio.data();
    record.audioCapacity = static_cast<uint32_t>(audio.size());
    int32_t fetched = 0;
    while (reader.fetchFrame(&record, -1, 0)) {
      if (record.videoBytes > record.videoCapacity || record.audioBytes > record.audioCapacity) __builtin_trap();
      ++fetched;
    }
    // The scan saw every frame it reports whole: all of them read back.
    if (fetched != reader.frameCount()) __builtin_trap();
  }
  return 0;
}
