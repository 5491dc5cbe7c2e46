#pragma once
// How a file that is not a regular file is named in messages ("not a regular file but a FIFO").
#include <sys/stat.h>

namespace zentrova {

inline const char* KindOfFile(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "a special file";
}

}  // namespace zentrova
