// --version: the program and the libraries it runs on.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

#include <string>

#include "cli/Commands.h"

namespace zentrova::cli {
namespace {

std::string Dotted(unsigned v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

}  // namespace

std::string VersionText() {
  std::string text = "zentrova " ZENTROVA_VERSION "\n";
  text += "libavcodec " + Dotted(avcodec_version()) + " (built with " + Dotted(LIBAVCODEC_VERSION_INT) + ")\n";
  text += "libavutil " + Dotted(avutil_version()) + "\n";
#ifdef ZENTROVA_QT_VERSION
  text += "Qt " ZENTROVA_QT_VERSION " (the desktop application, zentrova-gui)\n";
#endif
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace zentrova::cli
