// Loading the libav module, and the calls of the common code that reach it. The module is found
// the way the dynamic linker finds a library: the program's run path names its folder,
// ../lib/zentrova from the program's own. It stays loaded for the life of the process.
#include <dlfcn.h>

#include <mutex>

#include "libav/Module.h"

namespace zentrova::libav {
namespace {

struct Loaded {
  const Module* module = nullptr;
  std::string problem;
};

Loaded LoadOnce() {
  Loaded loaded;
  void* handle = dlopen(kFileName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    loaded.problem = why ? why : std::string(kFileName) + " could not be loaded";
    return loaded;
  }
  using Entry = const Module* (*)();
  auto entry = reinterpret_cast<Entry>(dlsym(handle, kEntryName));
  const Module* module = entry ? entry() : nullptr;
  if (!module || module->interface != kInterface || module->size != sizeof(Module)) {
    loaded.problem = std::string(kFileName) + " belongs to another build of zentrova";
    return loaded;  // left loaded, unused
  }
  loaded.module = module;
  return loaded;
}

}  // namespace

const Module* Load(std::string* problem) {
  static const Loaded loaded = LoadOnce();
  if (problem) *problem = loaded.problem;
  return loaded.module;
}

}  // namespace zentrova::libav

namespace zentrova::avi {

bool LibavEncoderAvailable(const char* encoder) {
  const libav::Module* module = libav::Load();
  return module && module->encoderAvailable(encoder);
}

std::shared_ptr<AviStream> MakeLibavStream(const LibavCodec& codec, std::shared_ptr<AviStream> source, int quality,
                                           unsigned threads) {
  const libav::Module* module = libav::Load();
  return module ? module->makeStream(codec, std::move(source), quality, threads) : nullptr;
}

std::string LibavProblem() {
  std::string problem;
  libav::Load(&problem);
  return problem;
}

}  // namespace zentrova::avi

namespace zentrova::container {

int OpenMediaFile(std::shared_ptr<avi::AviFile>& file, Format format, std::unique_ptr<avi::ByteSink> sink,
                  const std::string& scratchFolder, std::string* reason) {
  std::string problem;
  const libav::Module* module = libav::Load(&problem);
  if (!module) {
    if (reason) *reason = "the Matroska and MP4 writers could not be loaded: " + problem;
    return -1;
  }
  return module->openMediaFile(file, format, std::move(sink), scratchFolder, reason);
}

}  // namespace zentrova::container
