#pragma once
// The recording's facts as file tags: its start time and its three texts. The texts are 8-bit
// strings of a code page the recording does not name: they are taken as UTF-8 when they are valid
// UTF-8 (newer recorders and zrgen write that), otherwise as Windows-1252, or in the encoding the
// user names; every tag is written as UTF-8, but for AVI INFO texts (TagsOfRecording).
#include <cstdint>
#include <optional>
#include <string>

#include "media/StreamRecords.h"
#include "avi/Dates.h"

namespace zentrova::container {

inline constexpr const char* kSoftware = "Zentrova 1.0";
// Longest tag text written, in bytes of UTF-8 (a text of the recording is at most 1023 bytes).
inline constexpr size_t kMaxTagBytes = 4096;

// Each byte as the Latin-1 character of its value, in UTF-8. Never fails.
std::string Latin1ToUtf8(const std::string& bytes);
// Each byte as its Windows-1252 character (the five bytes that code page leaves undefined as
// the control characters of their value), in UTF-8. Never fails.
std::string Windows1252ToUtf8(const std::string& bytes);
// A recording's text in UTF-8: converted from `encoding` (an iconv name such as "CP936") when
// one is given, else kept when it is valid UTF-8, else read as Windows-1252. A text that is not
// valid in the encoding named is read as if none was named.
std::string TextToUtf8(const std::string& bytes, const std::string& encoding = {});
// A UTF-8 text in Windows-1252, or nothing when a character of it has no place there.
std::optional<std::string> Utf8ToWindows1252(const std::string& utf8);
// Whether this system's iconv converts from `encoding` to UTF-8.
bool KnownTextEncoding(const std::string& encoding);
// ISO 8601 in UTC: "2008-01-10T21:20:00Z" (the AVI headers' date form, which Matroska and MP4
// share).
using avi::IsoUtc;

// title: text1 (the camera name); comment: text2 and text3 (site, notes), a line each, the empty
// ones left out; the start time; the software.
FileTags TagsOfRecording(int32_t startTime, const std::string& text1, const std::string& text2,
                              const std::string& text3, const std::string& encoding = {});

}  // namespace zentrova::container
