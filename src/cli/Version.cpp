// --version: the program and the libraries it runs on.
#include <string>

#include "cli/Commands.h"
#include "libav/Module.h"

namespace zentrova::cli {

std::string VersionText() {
  std::string text = "zentrova " ZENTROVA_VERSION "\n";
  if (const Expected<const libav::Module*>& module = libav::Load())
    text += (*module)->libraryVersions();
  else
    text += "libavcodec not loaded: " + module.reason() + "\n";
#ifdef ZENTROVA_QT_VERSION
  text += "Qt " ZENTROVA_QT_VERSION " (the desktop application, zentrova-gui)\n";
#endif
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace zentrova::cli
