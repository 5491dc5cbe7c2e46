#include "convert/Json.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "container/Tags.h"

namespace zentrova {
namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 when there is none.
size_t Utf8SequenceAt(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8SequenceAt(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = Utf8SequenceAt(s, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (n > 1) {
      // Everything outside ASCII as \uXXXX (a pair of them above U+FFFF): the output is
      // plain ASCII, whatever the terminal or the reader's encoding.
      const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k])); };
      uint32_t cp = n == 2 ? (b(0) & 0x1F) << 6 | (b(1) & 0x3F)
                  : n == 3 ? (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F)
                           : (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
      char esc[16];
      if (cp >= 0x10000) {
        cp -= 0x10000;
        std::snprintf(esc, sizeof esc, "\\u%04x\\u%04x", 0xD800 + (cp >> 10), 0xDC00 + (cp & 0x3FF));
      } else {
        std::snprintf(esc, sizeof esc, "\\u%04x", cp);
      }
      out += esc;
      i += n;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

std::string Iso8601Utc(int64_t secondsSince1970) { return container::IsoUtc(secondsSince1970); }

std::string HexBytes(std::string_view s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char c : s) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (body_.size() > 1) body_ += ", ";
  body_ += JsonString(key);
  body_ += ": ";
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
  Key(key);
  body_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, int64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  body_ += json;
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddNumber(std::string_view key, double value, int decimals) {
  if (!std::isfinite(value)) return AddNull(key);
  Key(key);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  body_ += buf;
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::AddPath(std::string_view key, std::string_view path) {
  Add(key, path);
  if (!IsValidUtf8(path)) Add(std::string(key) + "Bytes", HexBytes(path));
  return *this;
}

}  // namespace zentrova

namespace zentrova {

namespace {

// The code point of the well-formed sequence of `n` bytes at `i`.
uint32_t CodePointAt(std::string_view s, size_t i, size_t n) {
  const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k])); };
  if (n == 2) return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
  if (n == 3) return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
  return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
}

// Characters that steer a terminal or the order of the text rather than show: the C1 controls
// (U+009B starts an escape sequence on many terminals, as ESC [ does), the line and paragraph
// separators, and the bidirectional embeddings, overrides and isolates that can make a line read
// as something else.
bool ShownEscaped(uint32_t code) {
  return (code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029 || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string Printable(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = Utf8SequenceAt(s, i);
    if (n > 1) {
      if (const uint32_t code = CodePointAt(s, i, n); ShownEscaped(code)) {
        char esc[16];
        std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(code));
        out += esc;
      } else {
        out.append(s.substr(i, n));
      }
      i += n;
      continue;
    }
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else if (n == 0 || c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

}  // namespace zentrova
