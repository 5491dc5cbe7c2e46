#include "RecordingLayout.h"

#include <fstream>
#include <iterator>
#include <set>

#include "recording/ZrFormat.h"
#include "video/BitReader.h"
#include "video/PictureHeader.h"

namespace zentrova::zrgen {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

bool Fail(std::string& error, const std::string& path, const std::string& why) {
  error = path + ": " + why;
  return false;
}

}  // namespace

char PictureKindOf(std::span<const uint8_t> video, uint16_t flags) {
  if (flags & FlagNoPicture) return 'N';
  BitReader reader;
  reader.Reset(video.data(), video.size());
  if (!FindStartCode(reader)) return 'X';
  return reader.Read(2) < 2 ? 'I' : 'P';
}

bool ReadRecordingLayout(const std::string& path, RecordingLayout& layout, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, path, "cannot be read");
  layout = {};
  layout.bytes.assign(std::istreambuf_iterator<char>(in), {});
  const std::vector<uint8_t>& b = layout.bytes;
  const uint64_t size = b.size();
  if (size < kFileHeaderSize || b[0] != 'Z' || b[1] != 'R') return Fail(error, path, "is not a ZR recording");
  layout.firstBlockOffset = Le32(&b[28]);

  std::set<uint64_t> seen;
  uint64_t block = layout.firstBlockOffset;
  while (true) {
    if (block + kBlockHeaderSize > size) return Fail(error, path, "has a block header past its end");
    if (!seen.insert(block).second) return Fail(error, path, "has a block chain that loops");
    BlockSpan span{block, Le16(&b[block + 8]), static_cast<uint32_t>(layout.frames.size())};
    uint64_t at = block + kBlockHeaderSize;
    for (uint32_t i = 0; i < span.frameCount; ++i) {
      if (at + kFrameHeaderSize > size) return Fail(error, path, "has a frame header past its end");
      FrameSpan frame;
      frame.offset = at;
      frame.flags = Le16(&b[at + 2]);
      frame.videoBytes = Le32(&b[at + 8]);
      const bool audio = (frame.flags & FlagAudio) != 0;
      frame.headerSize = audio ? kFrameHeaderSizeAudio : kFrameHeaderSize;
      if (at + frame.headerSize > size) return Fail(error, path, "has a frame header past its end");
      const uint64_t audioBytes = audio ? Le32(&b[at + 12]) : 0;
      frame.size = frame.headerSize + uint64_t{frame.videoBytes} + audioBytes;
      if (at + frame.size > size) return Fail(error, path, "has a frame past its end");
      frame.picture = PictureKindOf({&b[at + frame.headerSize], frame.videoBytes}, frame.flags);
      layout.frames.push_back(frame);
      at += frame.size;
    }
    layout.blocks.push_back(span);
    const uint32_t next = Le32(&b[block + 4]);
    if (next == kNoBlock || next >= size) break;
    block = next;
  }
  if (layout.frames.empty()) return Fail(error, path, "holds no frames");
  return true;
}

}  // namespace zentrova::zrgen
