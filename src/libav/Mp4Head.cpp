#include "libav/Mp4Head.h"

namespace zentrova::libav {
namespace {

struct Box {
  uint32_t type = 0;
  uint64_t data = 0;  // offset of the box's contents
  uint64_t end = 0;
};

constexpr uint32_t Type(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) << 24 | uint32_t(uint8_t(b)) << 16 | uint32_t(uint8_t(c)) << 8 | uint8_t(d);
}

uint64_t ReadBig(const std::vector<uint8_t>& b, uint64_t at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | b[at + i];
  return v;
}

// The box at `at`, inside [at, limit): a 32-bit size, or 1 and a 64-bit size after the type, or
// 0 for a box that runs to the end of what holds it.
std::optional<Box> ReadBox(const std::vector<uint8_t>& b, uint64_t at, uint64_t limit) {
  if (limit > b.size() || at + 8 > limit) return std::nullopt;
  uint64_t size = ReadBig(b, at, 4);
  Box box;
  box.type = static_cast<uint32_t>(ReadBig(b, at + 4, 4));
  box.data = at + 8;
  if (size == 1) {
    if (at + 16 > limit) return std::nullopt;
    size = ReadBig(b, at + 8, 8);
    box.data = at + 16;
  } else if (size == 0) {
    size = limit - at;
  }
  if (size < box.data - at || size > limit - at) return std::nullopt;
  box.end = at + size;
  return box;
}

// The first child of type `type` among the boxes in [from, to).
std::optional<Box> FindChild(const std::vector<uint8_t>& b, uint64_t from, uint64_t to, uint32_t type) {
  for (uint64_t at = from; at < to;) {
    const std::optional<Box> box = ReadBox(b, at, to);
    if (!box) return std::nullopt;
    if (box->type == type) return box;
    at = box->end;
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> FindTextTrackFlags(const std::vector<uint8_t>& head) {
  const std::optional<Box> moov = FindChild(head, 0, head.size(), Type('m', 'o', 'o', 'v'));
  if (!moov) return std::nullopt;
  for (uint64_t at = moov->data; at < moov->end;) {
    const std::optional<Box> trak = ReadBox(head, at, moov->end);
    if (!trak) return std::nullopt;
    at = trak->end;
    if (trak->type != Type('t', 'r', 'a', 'k')) continue;
    const auto tkhd = FindChild(head, trak->data, trak->end, Type('t', 'k', 'h', 'd'));
    const auto mdia = FindChild(head, trak->data, trak->end, Type('m', 'd', 'i', 'a'));
    if (!tkhd || !mdia || tkhd->end - tkhd->data < 4) continue;
    // The handler: version and flags, a reserved word, then its type.
    const auto hdlr = FindChild(head, mdia->data, mdia->end, Type('h', 'd', 'l', 'r'));
    if (!hdlr || hdlr->end - hdlr->data < 12) continue;
    const auto handler = static_cast<uint32_t>(ReadBig(head, hdlr->data + 8, 4));
    if (handler == Type('s', 'b', 't', 'l') || handler == Type('t', 'e', 'x', 't')) return tkhd->data + 3;
  }
  return std::nullopt;
}

}  // namespace zentrova::libav
