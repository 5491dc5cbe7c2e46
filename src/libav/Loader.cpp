// Loading the libav module, and the calls of the common code that reach it. The module is in
// ../lib/zentrova from the folder of the running program (links resolved), where it is both
// installed and built; it stays loaded for the life of the process. The path is worked out
// here rather than left to the program's run path: a sanitizer runtime that wraps dlopen
// would make the search its own, and it has no run path.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "base/Refusal.h"
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

Expected<const Module*> LoadOnce() {
  void* handle = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    return Failure(why ? why : std::string(kFileName) + " could not be loaded");
  }
  using Entry = const Module* (*)();
  auto entry = reinterpret_cast<Entry>(dlsym(handle, kEntryName));
  const Module* module = entry ? entry() : nullptr;
  if (!module || module->interface != kInterface || module->size != sizeof(Module))
    return Failure(std::string(kFileName) + " belongs to another build of zentrova");  // left loaded, unused
  return module;
}

}  // namespace

const Expected<const Module*>& Load() {
  static const Expected<const Module*> loaded = LoadOnce();
  return loaded;
}

}  // namespace zentrova::libav

namespace zentrova::avi {

bool LibavEncoderAvailable(const char* encoder) {
  const Expected<const libav::Module*>& module = libav::Load();
  return module && (*module)->encoderAvailable(encoder);
}

Expected<std::shared_ptr<OutputStream>> MakeLibavStream(const LibavCodec& codec, std::shared_ptr<OutputStream> source,
                                                        int quality, unsigned threads) {
  const Expected<const libav::Module*>& module = libav::Load();
  // Built where memory may be short: the reason is copied without throwing.
  if (!module) return Refusal(module.reason().c_str());
  return (*module)->makeStream(codec, std::move(source), quality, threads);
}

std::string LibavProblem() {
  const Expected<const libav::Module*>& module = libav::Load();
  return module ? std::string() : module.reason();
}

}  // namespace zentrova::avi

namespace zentrova::container {

Expected<std::shared_ptr<OutputFile>> OpenMediaFile(Format format, std::unique_ptr<avi::ByteSink> sink) {
  const Expected<const libav::Module*>& module = libav::Load();
  if (!module) return Failure("the Matroska and MP4 writers could not be loaded: " + module.reason());
  return (*module)->openMediaFile(format, std::move(sink));
}

}  // namespace zentrova::container

namespace zentrova::container {

Expected<std::unique_ptr<PictureReader>> OpenPictureReader(const std::string& path) {
  const Expected<const libav::Module*>& module = libav::Load();
  if (!module) return Failure("the decoders could not be loaded: " + module.reason());
  return (*module)->openPictureReader(path);
}

bool IsLossless(const std::string& codec) { return codec == "rawvideo" || codec == "ffv1"; }

}  // namespace zentrova::container
namespace zentrova::stills {

Expected<void> EncodePng(const uint8_t* picture, int width, int height, std::vector<uint8_t>& png) {
  const Expected<const libav::Module*>& module = libav::Load();
  if (!module) return Failure("the PNG encoder could not be loaded: " + module.reason());
  return (*module)->encodePng(picture, width, height, png);
}

}  // namespace zentrova::stills
