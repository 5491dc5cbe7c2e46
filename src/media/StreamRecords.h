#pragma once
// The records a caller fills to describe an output file's streams and the file itself. They are
// the AVI file's own (a stream header, a bitmap or wave format, a FourCC), and the Matroska and MP4
// writers take the same ones.
#include <cstdint>
#include <string>

namespace zentrova {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

inline constexpr uint32_t kKeyFrame = 0x10;  // flag of a sample that is a key frame

struct Rect16 {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The in-memory stream-info record; it goes into the file as a 56-byte strh chunk (and the
// name, when there is one, as a strn chunk).
struct StreamInfo {
  uint32_t fccType = 0;
  uint32_t fccHandler = 0;
  uint32_t dwFlags = 0;
  uint32_t dwCaps = 0;
  uint16_t wPriority = 0;
  uint16_t wLanguage = 0;
  uint32_t dwScale = 0;
  uint32_t dwRate = 0;
  uint32_t dwStart = 0;
  uint32_t dwLength = 0;
  uint32_t dwInitialFrames = 0;
  uint32_t dwSuggestedBufferSize = 0;
  int32_t dwQuality = 0;
  uint32_t dwSampleSize = 0;
  Rect16 rcFrame;
  uint32_t dwEditCount = 0;
  uint32_t dwFormatChangeCount = 0;
  std::string name;
};

// What a file says about the recording it holds, written as the container's own tags. Texts are
// UTF-8; an empty one is left out.
struct FileTags {
  bool hasStartTime = false;
  int64_t startTime = 0;  // seconds since 1970-01-01 00:00:00 UTC
  std::string title;
  std::string comment;
  std::string software;  // "Zentrova 1.0"
  // The title and the comment as an AVI file's INFO texts, which players read in a code page of
  // their own (Windows-1252 where they say none): 8-bit texts; empty ones are the UTF-8 texts above.
  std::string infoTitle;
  std::string infoComment;
};

#pragma pack(push, 1)
struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 320;
  int32_t biHeight = 240;
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 24;
  uint32_t biCompression = 0;  // BI_RGB
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct WaveFormatEx {
  uint16_t wFormatTag = 1;  // PCM
  uint16_t nChannels = 1;
  uint32_t nSamplesPerSec = 8000;
  uint32_t nAvgBytesPerSec = 16000;
  uint16_t nBlockAlign = 2;
  uint16_t wBitsPerSample = 16;
  uint16_t cbSize = 0;
};
static_assert(sizeof(WaveFormatEx) == 18);
#pragma pack(pop)

}  // namespace zentrova
