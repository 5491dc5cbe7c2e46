#pragma once
// On-disk layout of a ZR recording: constants and the resolution code table.
#include <cstdint>
#include <optional>

namespace zentrova {

inline constexpr uint32_t kFileHeaderSize = 36;
inline constexpr uint32_t kBlockHeaderSize = 16;
inline constexpr uint32_t kFrameHeaderSize = 12;       // without audio
inline constexpr uint32_t kFrameHeaderSizeAudio = 16;  // with the audioBytes field
inline constexpr uint32_t kNoBlock = 0xFFFFFFFFu;       // -1 in a block link
inline constexpr uint16_t kMaxVersion = 4096;
inline constexpr uint8_t kMaxLimitByte = 160;
inline constexpr uint16_t kMaxTextLength = 1000;       // text1 and text2

// Format versions written by the two codec generations.
inline constexpr uint16_t kVersionOlder = 257;
inline constexpr uint16_t kVersionNewer = 4096;

// Codec generation stamps handed to the video decoder.
inline constexpr uint32_t kGenerationOlder = 0x20020114;
inline constexpr uint32_t kGenerationNewer = 0x20020219;

inline constexpr uint16_t FlagNoPicture = 0x0001;
inline constexpr uint16_t FlagAudio = 0x8000;

struct PictureSize {
  int32_t width;
  int32_t height;
};

// Picture size of a resolution code (bit 7 = size family, bits 0..6 = size index).
// Twelve codes exist; every other value gives nothing.
std::optional<PictureSize> SizeOfResolutionCode(uint8_t code);

// The code for a size and family in one generation, or 255 when that generation has none.
uint8_t ResolutionCodeFor(PictureSize size, int sizeFamily, uint32_t generation);

// Codec generation selected by a format version: only 4096 selects the newer one.
constexpr uint32_t GenerationOfVersion(uint16_t version) {
  return version == kVersionNewer ? kGenerationNewer : kGenerationOlder;
}

}  // namespace zentrova
