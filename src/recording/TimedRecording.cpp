#include "recording/TimedRecording.h"

#include "recording/FrameSummary.h"

namespace zentrova {

std::unique_ptr<RecordingClock> ClockOfReader(ZrReader& reader, int64_t clockOffsetMs) {
  RecordingClock::Header header;
  header.startTime = reader.startTime();
  header.endTime = reader.endTime();
  header.createTick = reader.createTick();
  header.utcOffsetHours = reader.utcOffsetHours();
  std::vector<RecordingClock::Block> blocks;
  blocks.reserve(reader.blocks().size());
  for (const ZrReader::BlockEntry& b : reader.blocks()) blocks.push_back({b.tick, b.frameCount, b.firstFrame});
  auto sound = [&reader](uint32_t block, std::vector<uint32_t>& samples) {
    samples.clear();
    for (const FrameSummary& f : ReadBlockSummaries(reader, block)) samples.push_back(f.samples);
    return !samples.empty();
  };
  const auto frames = static_cast<uint32_t>(std::max(reader.frameCount(), 0));
  return std::make_unique<RecordingClock>(header, std::move(blocks), frames, sound, clockOffsetMs);
}

Expected<void> TimedRecording::Open(const std::string& path, int64_t clockOffsetMs, const std::atomic<bool>* cancel) {
  reader = std::make_unique<ZrReader>();
  reader->setCancelFlag(cancel);
  if (auto opened = reader->open(path, &info); !opened) {
    reader.reset();
    return Failure(path + ": " + opened.reason());
  }
  clock = ClockOfReader(*reader, clockOffsetMs);
  return {};
}

}  // namespace zentrova
