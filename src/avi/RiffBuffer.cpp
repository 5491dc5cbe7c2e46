#include "avi/RiffBuffer.h"

#include "media/StreamRecords.h"

namespace zentrova::avi {

void StoreLe32(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
  at[2] = static_cast<uint8_t>(v >> 16);
  at[3] = static_cast<uint8_t>(v >> 24);
}

void RiffBuffer::Put16(uint16_t v) {
  Put8(static_cast<uint8_t>(v));
  Put8(static_cast<uint8_t>(v >> 8));
}

void RiffBuffer::Put32(uint32_t v) {
  Put16(static_cast<uint16_t>(v));
  Put16(static_cast<uint16_t>(v >> 16));
}

void RiffBuffer::Put64(uint64_t v) {
  Put32(static_cast<uint32_t>(v));
  Put32(static_cast<uint32_t>(v >> 32));
}

void RiffBuffer::PutBytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + size);
}

size_t RiffBuffer::OpenChunk(uint32_t fourcc) {
  const size_t mark = bytes_.size();
  Put32(fourcc);
  Put32(0);
  return mark;
}

size_t RiffBuffer::OpenList(uint32_t listType) {
  const size_t mark = OpenChunk(FourCC('L', 'I', 'S', 'T'));
  Put32(listType);
  return mark;
}

void RiffBuffer::Close(size_t mark) {
  // The size counts what follows the 8-byte chunk header, without the pad byte.
  Patch32(mark + 4, static_cast<uint32_t>(bytes_.size() - mark - 8));
  if (bytes_.size() & 1) Put8(0);
}

void RiffBuffer::Patch32(size_t at, uint32_t v) { StoreLe32(bytes_.data() + at, v); }

}  // namespace zentrova::avi
