#include "app/CommandLine.h"

#include <QFileInfo>
#include <cstring>

namespace zentrova::app {

GuiCommandLine ParseGuiCommandLine(const QStringList& arguments) {
  GuiCommandLine line;
  bool optionsEnded = false;
  for (const QString& argument : arguments) {
    if (!optionsEnded && argument == QStringLiteral("--")) {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && (argument == QStringLiteral("-h") || argument == QStringLiteral("--help")))
      return {GuiCommandLine::Action::Help, {}, {}};
    if (!optionsEnded && argument == QStringLiteral("--version")) return {GuiCommandLine::Action::Version, {}, {}};
    if (!optionsEnded && argument.startsWith(QLatin1Char('-')) && argument != QStringLiteral("-"))
      return {GuiCommandLine::Action::Error, {}, QStringLiteral("unknown option %1").arg(argument)};
    if (!line.recording.isEmpty())
      return {GuiCommandLine::Action::Error, {}, QStringLiteral("one recording at a time (%1 and %2 given)").arg(line.recording, argument)};
    line.recording = QFileInfo(argument).absoluteFilePath();
  }
  return line;
}

bool WantsHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0)
      return true;
  }
  return false;
}

QString GuiHelpText() {
  return QStringLiteral(
      "Zentrova converts ZR recordings of a digital video recorder into AVI files, in one window.\n"
      "Usage: zentrova-gui [OPTIONS] [FILE]\n"
      "\n"
      "Positionals:\n"
      "  FILE                        A recording (.zr or .zrx) to start with: it fills the input field\n"
      "                              and the output name is derived from it, as Browse does\n"
      "\n"
      "Options:\n"
      "  -h,--help                   Print this help message and exit\n"
      "  --version                   Display program version information and exit\n"
      "\n"
      "Qt's own options (-platform, -style, -display) are understood as well.\n");
}

QString GuiVersionText() { return QStringLiteral("zentrova-gui 1.0\n"); }

}  // namespace zentrova::app
