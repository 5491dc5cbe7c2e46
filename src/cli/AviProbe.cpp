#include "cli/AviProbe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace zentrova::cli {

bool StartsLikeContainer(const std::string& path, const std::string& extension) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t head[8] = {};
  const bool read = avi::ReadFileAt(fd, 0, head, sizeof head);
  ::close(fd);
  if (!read) return false;
  if (extension == ".mkv") return head[0] == 0x1A && head[1] == 0x45 && head[2] == 0xDF && head[3] == 0xA3;
  if (extension == ".mp4") return std::memcmp(head + 4, "ftyp", 4) == 0;
  return false;
}

}  // namespace zentrova::cli
