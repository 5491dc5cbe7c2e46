#include "avi/AviReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace zentrova::avi {
namespace {

constexpr uint32_t Code(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Walks the chunks of the header list (bytes [begin, end) of `h`) for the first video stream's
// header and the extended frame count.
void ReadHeaderList(const std::vector<uint8_t>& h, size_t begin, size_t end, AviProbe& probe, bool& sawVideo,
                    bool& sawExtended, uint32_t& extendedFrames, int depth = 0) {
  if (depth > 4) return;  // the lists we look into are nested two deep
  size_t pos = begin;
  while (pos + 8 <= end) {
    const uint32_t id = Le32(&h[pos]);
    const uint32_t size = Le32(&h[pos + 4]);
    const size_t body = pos + 8;
    if (size > end - body) return;
    if (id == Code("LIST") && size >= 4) {
      ReadHeaderList(h, body + 4, body + size, probe, sawVideo, sawExtended, extendedFrames, depth + 1);
    } else if (id == Code("strh") && size >= 36 && !sawVideo && Le32(&h[body]) == Code("vids")) {
      sawVideo = true;
      probe.fourcc = Le32(&h[body + 4]);
      const uint32_t scale = Le32(&h[body + 20]);
      const uint32_t rate = Le32(&h[body + 24]);
      probe.rate = scale ? static_cast<double>(rate) / scale : 0;
      probe.frames = Le32(&h[body + 32]);
    } else if (id == Code("dmlh") && size >= 4) {
      sawExtended = true;
      extendedFrames = Le32(&h[body]);
    }
    pos = body + size + (size & 1);
  }
}

}  // namespace

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

  // The header list follows the first segment's form type.
  uint8_t list[12];
  bool headersRead = false, sawVideo = false, sawExtended = false;
  uint32_t mainFrames = 0;
  if (ReadFileAt(fd, 12, list, sizeof list) && Le32(list) == Code("LIST") && Le32(list + 8) == Code("hdrl")) {
    const uint32_t size = Le32(list + 4);
    if (size >= 4 && size <= (1u << 20) && uint64_t{20} + size <= probe.bytes) {
      std::vector<uint8_t> h(size - 4);
      if (ReadFileAt(fd, 24, h.data(), h.size())) {
        ReadHeaderList(h, 0, h.size(), probe, sawVideo, sawExtended, mainFrames);
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
