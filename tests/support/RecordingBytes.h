#pragma once
// Builds recordings byte by byte, for layouts the writer would never produce (loops, cut blocks,
// lengths that lie).
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace zentrova::testing {

class RecordingBytes {
 public:
  RecordingBytes& u8(uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  RecordingBytes& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
  RecordingBytes& u32(uint32_t v) { return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16)); }
  RecordingBytes& text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  RecordingBytes& fill(size_t n, uint8_t v = 0) {
    bytes.insert(bytes.end(), n, v);
    return *this;
  }
  size_t size() const { return bytes.size(); }
  void put32At(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

  // A 36-byte header; firstBlockOffset is patched by the caller when it differs.
  RecordingBytes& header(uint16_t version, uint8_t code, uint16_t text1Length = 0, uint16_t text2Length = 0,
                         uint32_t firstBlock = 44, uint8_t limit = 160) {
    text("ZR").u16(version).u8(code).u8(7).u8(9).u8(limit);
    u32(1000).u32(1010).u32(0).u16(text1Length).u16(text2Length).u32(0).u32(firstBlock).u32(0);
    return *this;
  }
  RecordingBytes& block(uint32_t prev, uint32_t next, uint16_t frames) {
    return u32(prev).u32(next).u16(frames).u16(0).u32(0);
  }
  RecordingBytes& frame(uint16_t flags, const std::vector<uint8_t>& video, const std::vector<uint8_t>& audio = {},
                        uint16_t tag = 0) {
    u16(tag).u16(flags).u32(0x11223344).u32(static_cast<uint32_t>(video.size()));
    if (flags & 0x8000) u32(static_cast<uint32_t>(audio.size()));
    bytes.insert(bytes.end(), video.begin(), video.end());
    if (flags & 0x8000) bytes.insert(bytes.end(), audio.begin(), audio.end());
    return *this;
  }

  void save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<uint8_t> bytes;
};

}  // namespace zentrova::testing
