#include "avi/AviReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace zentrova::avi {
namespace {

constexpr uint32_t Code(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// A list inside this many others is listed but not entered: an AVI file's lists nest three deep
// (segment, hdrl, strl), and a bound keeps a file of nothing but list headers from going deeper.
constexpr int kEnteredListDepth = 5;

std::string Tag(uint32_t code) {
  std::string tag(4, ' ');
  for (int i = 0; i < 4; ++i) tag[i] = static_cast<char>(code >> (8 * i));
  return tag;
}

// Lists the chunks in bytes [at, end), which lie `level` lists deep.
void ListChunks(std::span<const uint8_t> bytes, size_t at, size_t end, const std::string& prefix, int level,
                std::vector<RiffChunk>& out) {
  while (at <= end && end - at >= 8) {
    const uint32_t id = Le32(&bytes[at]);
    const uint32_t size = Le32(&bytes[at + 4]);
    const size_t body = at + 8;
    if (size > end - body) return;
    const bool list = size >= 4 && (id == Code("LIST") || (level == 0 && id == Code("RIFF")));
    if (list) {
      const std::string path = prefix + Tag(Le32(&bytes[body]));
      out.push_back({path, Le32(&bytes[body]), true, body + 4, size - 4});
      if (level < kEnteredListDepth) ListChunks(bytes, body + 4, body + size, path + "/", level + 1, out);
    } else {
      out.push_back({prefix + Tag(id), id, false, body, size});
    }
    at = body + size + (size & 1);
  }
}

// The first video stream's header and the extended frame count, from the chunks of the header
// list.
void ReadHeaderList(std::span<const uint8_t> h, AviProbe& probe, bool& sawVideo, bool& sawExtended,
                    uint32_t& extendedFrames) {
  for (const RiffChunk& c : ListRiffChunks(h)) {
    if (c.list) continue;
    if (c.id == Code("strh") && c.size >= 36 && !sawVideo && Le32(&h[c.data]) == Code("vids")) {
      sawVideo = true;
      probe.fourcc = Le32(&h[c.data + 4]);
      const uint32_t scale = Le32(&h[c.data + 20]);
      const uint32_t rate = Le32(&h[c.data + 24]);
      probe.rate = scale ? static_cast<double>(rate) / scale : 0;
      probe.frames = Le32(&h[c.data + 32]);
    } else if (c.id == Code("dmlh") && c.size >= 4) {
      sawExtended = true;
      extendedFrames = Le32(&h[c.data]);
    }
  }
}

}  // namespace

std::vector<RiffChunk> ListRiffChunks(std::span<const uint8_t> bytes) {
  std::vector<RiffChunk> chunks;
  ListChunks(bytes, 0, bytes.size(), "", 0, chunks);
  return chunks;
}

bool ReadFileAt(int fd, uint64_t offset, void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pread(fd, out, count, static_cast<off_t>(offset));
    if (n <= 0) return false;
    out += n;
    count -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

AviProbe ProbeAvi(const std::string& path) {
  AviProbe probe;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return probe;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return probe;
  }
  probe.bytes = static_cast<uint64_t>(st.st_size);
  uint8_t head[12];
  if (!ReadFileAt(fd, 0, head, sizeof head) || Le32(head) != Code("RIFF") || Le32(head + 8) != Code("AVI ")) {
    ::close(fd);
    return probe;
  }
  probe.isAvi = true;

  // The header list follows the first segment's form type; it is read whole, its own chunk
  // header included.
  uint8_t list[12];
  bool headersRead = false, sawVideo = false, sawExtended = false;
  uint32_t mainFrames = 0;
  if (ReadFileAt(fd, 12, list, sizeof list) && Le32(list) == Code("LIST") && Le32(list + 8) == Code("hdrl")) {
    const uint32_t size = Le32(list + 4);
    if (size >= 4 && size <= (1u << 20) && uint64_t{20} + size <= probe.bytes) {
      std::vector<uint8_t> h(size + 8);
      if (ReadFileAt(fd, 12, h.data(), h.size())) {
        ReadHeaderList(h, probe, sawVideo, sawExtended, mainFrames);
        headersRead = sawVideo;
      }
    }
  }
  if (sawExtended) probe.frames = mainFrames;

  // Every segment ("RIFF" size "AVI " or "AVIX") must end where the next begins, the last at the
  // end of the file: a file cut short or still being written does not add up.
  uint64_t pos = 0;
  bool chain = true;
  for (int segment = 0; pos < probe.bytes && chain; ++segment) {
    uint8_t seg[12];
    if (!ReadFileAt(fd, pos, seg, sizeof seg) || Le32(seg) != Code("RIFF") ||
        Le32(seg + 8) != (segment == 0 ? Code("AVI ") : Code("AVIX"))) {
      chain = false;
      break;
    }
    const uint64_t size = Le32(seg + 4);
    pos += 8 + size + (size & 1);
  }
  ::close(fd);
  probe.finished = headersRead && chain && pos == probe.bytes;
  return probe;
}
std::string FourCCText(uint32_t fourcc) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", fourcc);
      return hex;
    }
    s += c;
  }
  return s;
}

}  // namespace zentrova::avi
