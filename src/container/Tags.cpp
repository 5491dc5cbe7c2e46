#include "container/Tags.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>

namespace zentrova::container {
std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t min = 0, value = 0;
    if (c < 0x80) n = 0;
    else if ((c & 0xE0) == 0xC0) n = 1, min = 0x80, value = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) n = 2, min = 0x800, value = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) n = 3, min = 0x10000, value = c & 0x07;
    else return false;
    for (size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return false;
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      value = value << 6 | (t & 0x3F);
    }
    if (n > 0 && (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))) return false;
    i += n + 1;
  }
  return true;
}

// Windows-1252's characters for the bytes 0x80 to 0x9F (the standard's table); the five it leaves
// undefined keep their own value.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The text converted by iconv, or nothing when the encoding is unknown or the text is not valid in it.
std::optional<std::string> Iconv(const std::string& bytes, const std::string& encoding) {
  iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string in = bytes;
  std::string out(bytes.size() * 4 + 16, '\0');
  char* from = in.data();
  size_t fromLeft = in.size();
  char* to = out.data();
  size_t toLeft = out.size();
  const size_t done = ::iconv(cd, &from, &fromLeft, &to, &toLeft);
  ::iconv_close(cd);
  if (done == static_cast<size_t>(-1) || fromLeft != 0) return std::nullopt;
  out.resize(out.size() - toLeft);
  return out;
}

}  // namespace

std::string Windows1252ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : c);
  return out;
}

std::string TextToUtf8(const std::string& bytes, const std::string& encoding) {
  if (!encoding.empty())
    if (std::optional<std::string> text = Iconv(bytes, encoding)) return *text;
  if (IsUtf8(bytes)) return bytes;
  return Windows1252ToUtf8(bytes);
}

std::optional<std::string> Utf8ToWindows1252(const std::string& utf8) {
  if (!IsUtf8(utf8)) return std::nullopt;
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t value = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) value = value << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    if (value < 0x80 || (value >= 0xA0 && value <= 0xFF)) {
      out += static_cast<char>(value);
      continue;
    }
    const uint16_t* at = std::find(std::begin(kWindows1252High), std::end(kWindows1252High), value);
    if (at == std::end(kWindows1252High)) return std::nullopt;
    out += static_cast<char>(0x80 + (at - std::begin(kWindows1252High)));
  }
  return out;
}

bool KnownTextEncoding(const std::string& encoding) {
  iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  ::iconv_close(cd);
  return true;
}

namespace {

// Cuts a UTF-8 text to kMaxTagBytes without splitting a character.
std::string Capped(std::string s) {
  if (s.size() <= kMaxTagBytes) return s;
  size_t n = kMaxTagBytes;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  s.resize(n);
  return s;
}

}  // namespace

FileTags TagsOfRecording(int32_t startTime, const std::string& text1, const std::string& text2,
                              const std::string& text3, const std::string& encoding) {
  FileTags tags;
  tags.hasStartTime = true;
  tags.startTime = startTime;
  tags.title = Capped(TextToUtf8(text1, encoding));
  std::string comment;
  for (const std::string* t : {&text2, &text3}) {
    if (t->empty()) continue;
    if (!comment.empty()) comment += '\n';
    comment += TextToUtf8(*t, encoding);
  }
  tags.comment = Capped(comment);
  tags.software = kSoftware;
  // AVI players read INFO texts as Windows-1252: a text that has every character there is written
  // so; any other as the recording holds it (its own code page, or UTF-8), never cut down to
  // fewer characters. The UTF-8 forms above stay whole for every other container and the report.
  std::string rawComment;
  for (const std::string* t : {&text2, &text3}) {
    if (t->empty()) continue;
    if (!rawComment.empty()) rawComment += '\n';
    rawComment += *t;
  }
  tags.infoTitle = Utf8ToWindows1252(tags.title).value_or(text1);
  tags.infoComment = Utf8ToWindows1252(tags.comment).value_or(rawComment);
  return tags;
}

}  // namespace zentrova::container
