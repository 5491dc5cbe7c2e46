#pragma once
// The recording's facts as file tags: its start time and its three texts. The texts are 8-bit
// strings of an unknown code page; they are read as Latin-1, so that every byte value gives a
// valid UTF-8 tag.
#include <cstdint>
#include <string>

#include "avi/AviTypes.h"
#include "avi/Dates.h"

namespace zentrova::container {

inline constexpr const char* kSoftware = "Zentrova 1.0";
// Longest tag text written, in bytes of UTF-8 (a text of the recording is at most 1023 bytes).
inline constexpr size_t kMaxTagBytes = 4096;

// Each byte as the Latin-1 character of its value, in UTF-8. Never fails.
std::string Latin1ToUtf8(const std::string& bytes);
// ISO 8601 in UTC: "2008-01-10T21:20:00Z" (the AVI headers' date form, which Matroska and MP4
// share).
using avi::IsoUtc;

// title: text1 (the camera name); comment: text2 and text3 (site, notes), a line each, the empty
// ones left out; the start time; the software.
avi::FileTags TagsOfRecording(int32_t startTime, const std::string& text1, const std::string& text2,
                              const std::string& text3);

}  // namespace zentrova::container
