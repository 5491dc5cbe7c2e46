#include "container/Tags.h"

#include <cstdio>

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

// Cuts a UTF-8 text to kMaxTagBytes without splitting a character.
std::string Capped(std::string s) {
  if (s.size() <= kMaxTagBytes) return s;
  size_t n = kMaxTagBytes;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  s.resize(n);
  return s;
}

}  // namespace

avi::FileTags TagsOfRecording(int32_t startTime, const std::string& text1, const std::string& text2,
                              const std::string& text3) {
  avi::FileTags tags;
  tags.hasStartTime = true;
  tags.startTime = startTime;
  tags.title = Capped(Latin1ToUtf8(text1));
  std::string comment;
  for (const std::string* t : {&text2, &text3}) {
    if (t->empty()) continue;
    if (!comment.empty()) comment += '\n';
    comment += Latin1ToUtf8(*t);
  }
  tags.comment = Capped(comment);
  tags.software = kSoftware;
  return tags;
}

}  // namespace zentrova::container
