// Loading the libav module, and the calls of the common code that reach it. The module is in
// ../lib/zentrova from the folder of the running program (links resolved), where it is both
// installed and built; it stays loaded for the life of the process. The path is worked out
// here rather than left to the program's run path: a sanitizer runtime that wraps dlopen
// would make the search its own, and it has no run path.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "libav/Module.h"
#include "libav/PngStill.h"

namespace zentrova::libav {
namespace {

std::string ModulePath() {
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof exe)) return kFileName;  // left to the library path
  std::string path(exe, static_cast<size_t>(n));
  path.erase(path.rfind('/') + 1);
  return path + ZENTROVA_MODULE_FROM_PROGRAM + "/" + kFileName;
}

struct Loaded {
  const Module* module = nullptr;
  std::string problem;
};

Loaded LoadOnce() {
  Loaded loaded;
  void* handle = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
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

std::shared_ptr<OutputStream> MakeLibavStream(const LibavCodec& codec, std::shared_ptr<OutputStream> source, int quality,
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

Expected<std::shared_ptr<OutputFile>> OpenMediaFile(Format format, std::unique_ptr<avi::ByteSink> sink) {
  std::string problem;
  const libav::Module* module = libav::Load(&problem);
  if (!module) return Failure("the Matroska and MP4 writers could not be loaded: " + problem);
  return module->openMediaFile(format, std::move(sink));
}

}  // namespace zentrova::container

namespace zentrova::container {

Expected<std::unique_ptr<PictureReader>> OpenPictureReader(const std::string& path) {
  std::string problem;
  const libav::Module* module = libav::Load(&problem);
  if (!module) return Failure("the decoders could not be loaded: " + problem);
  return module->openPictureReader(path);
}

bool IsLossless(const std::string& codec) { return codec == "rawvideo" || codec == "ffv1"; }

}  // namespace zentrova::container
namespace zentrova::stills {

Expected<void> EncodePng(const uint8_t* picture, int width, int height, std::vector<uint8_t>& png) {
  std::string problem;
  const libav::Module* module = libav::Load(&problem);
  if (!module) return Failure("the PNG encoder could not be loaded: " + problem);
  return module->encodePng(picture, width, height, png);
}

}  // namespace zentrova::stills
