#include "libav/MatroskaHead.h"

namespace zentrova::libav {
namespace {

constexpr uint32_t kSegment = 0x18538067;
constexpr uint32_t kTracks = 0x1654AE6B;
constexpr uint32_t kTrackEntry = 0xAE;
constexpr uint32_t kTrackType = 0x83;
constexpr uint32_t kDefaultDuration = 0x23E383;
constexpr uint64_t kVideoTrack = 1;
constexpr uint64_t kUnknownSize = UINT64_MAX;

struct Element {
  uint32_t id = 0;
  uint64_t data = 0;  // offset of the value
  uint64_t size = 0;  // kUnknownSize for a master of unknown size
};

// A variable-length number at `at`: the length is told by the first byte's leading zeros. An ID
// keeps its length marker, a size drops it; a size of all ones is unknown.
bool ReadVint(const std::vector<uint8_t>& b, uint64_t& at, bool keepMarker, uint64_t* value) {
  if (at >= b.size() || b[at] == 0) return false;
  int length = 1;
  while (!(b[at] & (0x80 >> (length - 1)))) ++length;
  if (at + length > b.size()) return false;
  uint64_t v = keepMarker ? b[at] : (b[at] & (0xFF >> length));
  bool allOnes = v == (0xFFu >> length);
  for (int i = 1; i < length; ++i) {
    v = (v << 8) | b[at + i];
    allOnes = allOnes && b[at + i] == 0xFF;
  }
  at += length;
  *value = (!keepMarker && allOnes) ? kUnknownSize : v;
  return true;
}

bool ReadElement(const std::vector<uint8_t>& b, uint64_t& at, Element* e) {
  uint64_t id = 0;
  if (!ReadVint(b, at, true, &id) || id > UINT32_MAX || !ReadVint(b, at, false, &e->size)) return false;
  e->id = static_cast<uint32_t>(id);
  e->data = at;
  return true;
}

uint64_t ReadUint(const std::vector<uint8_t>& b, const Element& e) {
  uint64_t v = 0;
  for (uint64_t i = 0; i < e.size && i < 8 && e.data + i < b.size(); ++i) v = (v << 8) | b[e.data + i];
  return v;
}

// The children of the master element spanning [from, to): the first one `match` accepts.
template <typename Match>
std::optional<Element> FindChild(const std::vector<uint8_t>& b, uint64_t from, uint64_t to, Match match) {
  for (uint64_t at = from; at < to;) {
    Element e;
    if (!ReadElement(b, at, &e)) return std::nullopt;
    if (match(e)) return e;
    if (e.size == kUnknownSize || e.size > to - e.data) return std::nullopt;
    at = e.data + e.size;
  }
  return std::nullopt;
}

uint64_t EndOf(const std::vector<uint8_t>& b, const Element& e) {
  return e.size == kUnknownSize || e.size > b.size() - e.data ? b.size() : e.data + e.size;
}

}  // namespace

std::optional<EbmlField> FindVideoDefaultDuration(const std::vector<uint8_t>& head) {
  // The EBML header, then the segment.
  uint64_t at = 0;
  Element ebml;
  if (!ReadElement(head, at, &ebml) || ebml.size == kUnknownSize || ebml.size > head.size() - ebml.data)
    return std::nullopt;
  const auto segment =
      FindChild(head, ebml.data + ebml.size, head.size(), [](const Element& e) { return e.id == kSegment; });
  if (!segment) return std::nullopt;
  const auto tracks = FindChild(head, segment->data, EndOf(head, *segment),
                                [](const Element& e) { return e.id == kTracks; });
  if (!tracks) return std::nullopt;
  std::optional<EbmlField> found;
  FindChild(head, tracks->data, EndOf(head, *tracks), [&](const Element& entry) {
    if (entry.id != kTrackEntry) return false;
    const uint64_t end = EndOf(head, entry);
    const auto type = FindChild(head, entry.data, end, [](const Element& e) { return e.id == kTrackType; });
    if (!type || ReadUint(head, *type) != kVideoTrack) return false;
    const auto duration =
        FindChild(head, entry.data, end, [](const Element& e) { return e.id == kDefaultDuration; });
    if (duration && duration->size >= 1 && duration->size <= 8 && duration->data + duration->size <= end)
      found = EbmlField{duration->data, static_cast<size_t>(duration->size)};
    return true;
  });
  return found;
}

bool EncodeEbmlUint(uint64_t value, size_t size, uint8_t* out) {
  if (size == 0 || size > 8 || (size < 8 && value >> (8 * size) != 0)) return false;
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
  return true;
}

}  // namespace zentrova::libav
