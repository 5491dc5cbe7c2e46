#include "FuzzSupport.h"

#include <cstdlib>
#include <filesystem>

namespace zentrova::fuzz {

const std::string& ScratchFolder() {
  // Never destroyed: the exit handler that removes the folder runs after static destructors.
  static const std::string& folder = *new std::string([] {
    std::error_code ec;
    std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/zentrova-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return pattern;
  }());
  return folder;
}

}  // namespace zentrova::fuzz
