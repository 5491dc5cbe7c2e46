#pragma once
// Finding a field of a Matroska file's header among the bytes written, so that a value known
// only once the file completes can be filled in where the muxer put its estimate.
#include <cstdint>
#include <optional>
#include <vector>

namespace zentrova::libav {

// Where the value of an element sits in the file.
struct EbmlField {
  uint64_t offset = 0;  // of the value's first byte
  size_t size = 0;      // of the value, in bytes
};

// The DefaultDuration of the first video track in `head` (the file's first bytes), if the
// header holds one.
std::optional<EbmlField> FindVideoDefaultDuration(const std::vector<uint8_t>& head);

// `value` as a big-endian unsigned number in exactly `size` bytes; false when it does not fit.
bool EncodeEbmlUint(uint64_t value, size_t size, uint8_t* out);

}  // namespace zentrova::libav
