#pragma once
// Finding a field of an MP4 file's index among the bytes written, so that what the muxer decides
// by itself can be set as the file is to have it once it completes.
#include <cstdint>
#include <optional>
#include <vector>

namespace zentrova::libav {

// The offset of the last byte of the track-header flags (where "enabled" is bit 0) of the first
// text track (handler "sbtl" or "text") in `head` (the file's first bytes), if the index holds one.
std::optional<uint64_t> FindTextTrackFlags(const std::vector<uint8_t>& head);

}  // namespace zentrova::libav
