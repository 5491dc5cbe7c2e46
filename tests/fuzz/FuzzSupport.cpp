#include "FuzzSupport.h"

#include <cstdlib>
#include <filesystem>

namespace zentrova::fuzz {

ScratchFolder::ScratchFolder() {
  std::error_code ec;
  const std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
  std::string pattern = base + "/zentrova-fuzz-XXXXXX";
  if (!::mkdtemp(pattern.data())) std::abort();
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zentrova::fuzz
