#pragma once
// Builds RIFF structures in memory: little-endian fields, chunks and lists whose sizes are filled
// in when they are closed, and the pad byte that keeps every chunk at an even offset.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zentrova::avi {

class RiffBuffer {
 public:
  void Put8(uint8_t v) { bytes_.push_back(v); }
  void Put16(uint16_t v);
  void Put32(uint32_t v);
  void Put64(uint64_t v);
  void PutBytes(const void* data, size_t size);
  void PutZeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }

  // Opens a chunk ("strh") or a list ("LIST" + "hdrl"); returns a mark for Close.
  size_t OpenChunk(uint32_t fourcc);
  size_t OpenList(uint32_t listType);
  // Fills in the size of the chunk or list at `mark` and pads it to an even length.
  void Close(size_t mark);

  void Patch32(size_t at, uint32_t v);

  size_t size() const { return bytes_.size(); }
  const uint8_t* data() const { return bytes_.data(); }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Writes `v` little-endian into `at[0..3]`.
void StoreLe32(uint8_t* at, uint32_t v);

}  // namespace zentrova::avi
