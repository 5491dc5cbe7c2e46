#pragma once
// The little JSON the front ends write (the command line's rows, the conversion reports): one
// object per line, built field by field.
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrova {

// True when `s` is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

// A JSON string literal in plain ASCII: well-formed UTF-8 is written as \uXXXX escapes, and each
// byte that is not part of a well-formed sequence as \ufffd (file names may hold any bytes; see
// JsonObject::AddPath).
std::string JsonString(std::string_view s);

// "2026-12-07T11:32:04Z".
std::string Iso8601Utc(int64_t secondsSince1970);

// The bytes as lower-case hexadecimal digits, two per byte.
std::string HexBytes(std::string_view s);

class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  JsonObject& Add(std::string_view key, int64_t value);
  JsonObject& Add(std::string_view key, uint32_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, int32_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, uint64_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, bool value);
  // A number with `decimals` digits after the point.
  JsonObject& AddNumber(std::string_view key, double value, int decimals);
  JsonObject& AddNull(std::string_view key);
  // A value that is JSON already: an array or an object built by the caller.
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  // A file name: the name as a string, and when it is not UTF-8 also "<key>Bytes", its exact
  // bytes in hexadecimal, so a script can still find the file.
  JsonObject& AddPath(std::string_view key, std::string_view path);
  // {"key": value, ...} on one line, no line feed.
  std::string Text() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};

}  // namespace zentrova

namespace zentrova {

// A file name or a recording's text as it is shown in messages: UTF-8 as it is, control
// characters and bytes that are not UTF-8 as \n, \t or \xHH (C1 controls and the characters that
// reorder a line as \uXXXX), so one name is always one line and nothing in it drives the terminal.
std::string Printable(std::string_view name);

}  // namespace zentrova
