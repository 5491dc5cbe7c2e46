// The module's one exported symbol: the table of what it provides.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

#include "libav/Module.h"

namespace zentrova::libav {
namespace {

std::string Dotted(unsigned v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

const Module kModule = {kInterface, sizeof(Module), &EncoderAvailable, &MakeStream, &OpenMediaFile, &LibraryVersions,
                         &OpenPictureReader, &EncodePng};

}  // namespace

std::string LibraryVersions() {
  return "libavcodec " + Dotted(avcodec_version()) + " (built with " + Dotted(LIBAVCODEC_VERSION_INT) + ")\n" +
         "libavutil " + Dotted(avutil_version()) + "\n";
}

}  // namespace zentrova::libav

extern "C" __attribute__((visibility("default"))) const zentrova::libav::Module* zentrova_libav_module() {
  return &zentrova::libav::kModule;
}
