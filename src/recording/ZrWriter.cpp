#include "recording/ZrWriter.h"

#include <cerrno>
#include <cstring>
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
  if (file_) (void)Close();
}

Expected<void> ZrWriter::Failed(int err) {
  if (error_ == 0) error_ = err != 0 ? err : EIO;
  return Status();
}

Expected<void> ZrWriter::Status() const {
  if (error_ != 0) return Failure(std::strerror(error_));
  if (!file_) return Failure("the recording is not open");
  return {};
}

Expected<void> ZrWriter::Open(const std::string& path, const ZrHeaderFields& f) {
  if (file_) return Failure("the recording is already open");
  error_ = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return Failed(errno);
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
  if (auto written = Append(header.data(), header.size()); !written) return written;
  return Append(variable.data(), variable.size());
}

Expected<void> ZrWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (auto status = Status(); !status) return status;
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fwrite(data, 1, size, file_) != size ||
      fseeko(file_, static_cast<off_t>(position_), SEEK_SET) != 0)
    return Failed(errno);
  return {};
}

Expected<void> ZrWriter::Append(const void* data, size_t size) {
  if (auto status = Status(); !status) return status;
  position_ += size;
  if (size && std::fwrite(data, 1, size, file_) != size) return Failed(errno);
  return {};
}

Expected<void> ZrWriter::FinishBlock() {
  if (blockOffset_ < 0) return Status();
  uint8_t count[2] = {static_cast<uint8_t>(blockFrames_), static_cast<uint8_t>(blockFrames_ >> 8)};
  return WriteAt(static_cast<uint64_t>(blockOffset_) + 8, count, 2);
}

Expected<void> ZrWriter::BeginBlock(uint32_t blockTick) {
  if (auto finished = FinishBlock(); !finished) return finished;
  const uint32_t here = static_cast<uint32_t>(position_);
  if (blockOffset_ >= 0) {
    // The block before points to this one: its nextBlock is the offset just past its frames.
    uint8_t link[4] = {static_cast<uint8_t>(here), static_cast<uint8_t>(here >> 8),
                       static_cast<uint8_t>(here >> 16), static_cast<uint8_t>(here >> 24)};
    if (auto linked = WriteAt(static_cast<uint64_t>(blockOffset_) + 4, link, 4); !linked) return linked;
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

Expected<void> ZrWriter::WriteFrame(const ZrFrame& frame) {
  if (blockOffset_ < 0) {
    if (auto begun = BeginBlock(createTick_); !begun) return begun;
  }
  if (blockFrames_ == 0xFFFF) {
    if (auto begun = BeginBlock(); !begun) return begun;
  }
  std::vector<uint8_t> h;
  Put16(h, frame.frameTag);
  Put16(h, frame.flags);
  Put32(h, frame.frameParam);
  Put32(h, static_cast<uint32_t>(frame.video.size()));
  const bool audio = frame.flags & FlagAudio;
  if (audio) Put32(h, static_cast<uint32_t>(frame.audio.size()));
  if (auto written = Append(h.data(), h.size()); !written) return written;
  if (auto written = Append(frame.video.data(), frame.video.size()); !written) return written;
  if (audio) {
    if (auto written = Append(frame.audio.data(), frame.audio.size()); !written) return written;
  }
  ++blockFrames_;
  return {};
}

Expected<void> ZrWriter::SetEndTime(int32_t endTime) {
  const auto v = static_cast<uint32_t>(endTime);
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  return WriteAt(12, b, 4);
}

Expected<void> ZrWriter::Close() {
  if (!file_) return Status();
  Expected<void> finished = FinishBlock();
  const bool closed = std::fclose(file_) == 0;
  const int err = errno;
  file_ = nullptr;
  blockOffset_ = -1;
  if (!finished) return finished;
  if (!closed) return Failed(err);
  return {};
}

}  // namespace zentrova
