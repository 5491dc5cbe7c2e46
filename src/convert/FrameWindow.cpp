#include "convert/FrameWindow.h"

#include <algorithm>
#include <vector>

#include "recording/ClockText.h"
#include "recording/FrameSummary.h"
#include "recording/ZrReader.h"

namespace zentrova {
namespace {

// The block of the chain that holds `frame`: the last one with frames that begins at or before it.
int32_t BlockOfFrame(const std::vector<ZrReader::BlockEntry>& blocks, uint32_t frame) {
  int32_t found = -1;
  auto it = std::upper_bound(blocks.begin(), blocks.end(), frame,
                             [](uint32_t f, const ZrReader::BlockEntry& b) { return f < b.firstFrame; });
  for (auto b = it; b != blocks.begin();) {
    --b;
    if (b->frameCount > 0) {
      found = static_cast<int32_t>(b - blocks.begin());
      break;
    }
  }
  return found;
}

}  // namespace

Expected<FrameWindow> FindFrameWindow(ZrReader& reader, RecordingClock& clock, ClockMs from, ClockMs to) {
  const int32_t zone = clock.utcOffsetHours();
  auto none = [](const std::string& text) -> Expected<FrameWindow> { return Failure(text); };
  if (to <= from)
    return none("the window ends (" + RecorderTimeText(to, zone) + ") before it begins (" +
                RecorderTimeText(from, zone) + ")");
  FrameWindow w;
  w.fromTime = from;
  w.toTime = to;
  w.first = clock.FirstFrameAtOrAfter(from);
  w.end = clock.FirstFrameAtOrAfter(to);
  if (w.first >= w.end) {
    const ClockMs start = clock.start(), end = clock.end();
    if (from >= end)
      return none("the window begins at " + RecorderTimeText(from, zone) + ", after the recording ends (" +
                  RecorderTimeText(end, zone) + ")");
    if (to <= start)
      return none("the window ends at " + RecorderTimeText(to, zone) + ", before the recording begins (" +
                  RecorderTimeText(start, zone) + ")");
    return none("no frame was recorded between " + RecorderTimeText(from, zone) + " and " +
                RecorderTimeText(to, zone) + " (the recorder paused)");
  }

  // Back from the window's first frame, block by block, to an intra picture.
  const std::vector<ZrReader::BlockEntry>& blocks = reader.blocks();
  w.decodeFrom = 0;
  w.decodeBlock = -1;
  for (int32_t block = BlockOfFrame(blocks, w.first); block >= 0 && w.decodeBlock < 0; --block) {
    const ZrReader::BlockEntry& b = blocks[static_cast<size_t>(block)];
    if (b.frameCount == 0) continue;
    const std::vector<FrameSummary> frames = ReadBlockSummaries(reader, static_cast<uint32_t>(block));
    const uint32_t last = std::min<uint32_t>(static_cast<uint32_t>(frames.size()), w.first - b.firstFrame + 1);
    for (uint32_t i = last; i > 0; --i) {
      if (frames[i - 1].picture != PictureKind::Intra) continue;
      w.decodeFrom = b.firstFrame + i - 1;
      w.decodeBlock = block;
      w.decodeFrameInBlock = static_cast<int32_t>(i - 1);
      break;
    }
  }
  if (w.decodeBlock < 0) {
    // No intra picture before: decoding starts with the recording, as a whole conversion does.
    w.decodeFrom = 0;
    w.decodeBlock = std::max(0, BlockOfFrame(blocks, 0));
    w.decodeFrameInBlock = 0;
  }
  return w;
}

}  // namespace zentrova
