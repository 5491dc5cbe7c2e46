#include "recording/ZrWriter.h"

#include <vector>

#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

ZrWriter::~ZrWriter() {
  if (file_) Close();
}

bool ZrWriter::Open(const std::string& path, const ZrHeaderFields& f) {
  if (file_) return false;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  ok_ = true;
  position_ = 0;
  blockOffset_ = prevBlockOffset_ = -1;
  blockFrames_ = 0;
  createTick_ = f.createTick;

  std::vector<uint8_t> variable;
  variable.insert(variable.end(), f.text1.begin(), f.text1.end());
  variable.insert(variable.end(), f.text2.begin(), f.text2.end());
  if (f.version >= 256) {
    Put32(variable, static_cast<uint32_t>(f.text3.size()));
    variable.insert(variable.end(), f.text3.begin(), f.text3.end());
  }
  if (f.version >= 257) Put32(variable, static_cast<uint32_t>(f.utcOffsetHours));

  std::vector<uint8_t> header;
  header.push_back('Z');
  header.push_back('R');
  Put16(header, f.version);
  header.push_back(f.resolutionCode);
  header.push_back(f.aux1);
  header.push_back(f.aux2);
  header.push_back(f.limitByte);
  Put32(header, static_cast<uint32_t>(f.startTime));
  Put32(header, static_cast<uint32_t>(f.endTime));
  Put32(header, f.createTick);
  Put16(header, static_cast<uint16_t>(f.text1.size()));
  Put16(header, static_cast<uint16_t>(f.text2.size()));
  Put32(header, 0);
  Put32(header, static_cast<uint32_t>(kFileHeaderSize + variable.size()));  // firstBlockOffset
  Put32(header, 0);
  return Append(header.data(), header.size()) && Append(variable.data(), variable.size());
}

bool ZrWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (!file_ || !ok_) return false;
  ok_ = fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0 && std::fwrite(data, 1, size, file_) == size &&
        fseeko(file_, static_cast<off_t>(position_), SEEK_SET) == 0;
  return ok_;
}

bool ZrWriter::Append(const void* data, size_t size) {
  if (!file_ || !ok_) return false;
  if (size && std::fwrite(data, 1, size, file_) != size) ok_ = false;
  position_ += size;
  return ok_;
}

bool ZrWriter::FinishBlock() {
  if (blockOffset_ < 0) return ok_;
  uint8_t count[2] = {static_cast<uint8_t>(blockFrames_), static_cast<uint8_t>(blockFrames_ >> 8)};
  return WriteAt(static_cast<uint64_t>(blockOffset_) + 8, count, 2);
}

bool ZrWriter::BeginBlock(uint32_t blockTick) {
  if (!FinishBlock()) return false;
  const uint32_t here = static_cast<uint32_t>(position_);
  if (blockOffset_ >= 0) {
    // The block before points to this one: its nextBlock is the offset just past its frames.
    uint8_t link[4] = {static_cast<uint8_t>(here), static_cast<uint8_t>(here >> 8),
                       static_cast<uint8_t>(here >> 16), static_cast<uint8_t>(here >> 24)};
    if (!WriteAt(static_cast<uint64_t>(blockOffset_) + 4, link, 4)) return false;
  }
  prevBlockOffset_ = blockOffset_;
  blockOffset_ = here;
  blockFrames_ = 0;
  std::vector<uint8_t> bh;
  Put32(bh, static_cast<uint32_t>(prevBlockOffset_));  // -1 in the first block
  Put32(bh, kNoBlock);
  Put16(bh, 0);
  Put16(bh, 0);
  Put32(bh, blockTick);
  return Append(bh.data(), bh.size());
}

bool ZrWriter::WriteFrame(const ZrFrame& frame) {
  if (blockOffset_ < 0 && !BeginBlock(createTick_)) return false;
  if (blockFrames_ == 0xFFFF && !BeginBlock()) return false;
  std::vector<uint8_t> h;
  Put16(h, frame.frameTag);
  Put16(h, frame.flags);
  Put32(h, frame.frameParam);
  Put32(h, static_cast<uint32_t>(frame.video.size()));
  const bool audio = frame.flags & FlagAudio;
  if (audio) Put32(h, static_cast<uint32_t>(frame.audio.size()));
  if (!Append(h.data(), h.size()) || !Append(frame.video.data(), frame.video.size())) return false;
  if (audio && !Append(frame.audio.data(), frame.audio.size())) return false;
  ++blockFrames_;
  return true;
}

bool ZrWriter::SetEndTime(int32_t endTime) {
  const auto v = static_cast<uint32_t>(endTime);
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  return WriteAt(12, b, 4);
}

bool ZrWriter::Close() {
  if (!file_) return false;
  bool ok = FinishBlock();
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  blockOffset_ = -1;
  return ok;
}

}  // namespace zentrova
