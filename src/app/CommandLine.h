#pragma once
// zentrova-gui's command line: an optional recording to open, --help and --version. Qt's own
// options (-platform, -style, ...) are taken out by QApplication before this is read.
#include <QString>
#include <QStringList>

namespace zentrova::app {

struct GuiCommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  QString recording;  // its full path; empty: start with empty fields
  QString error;      // for Action::Error, one line
};

// `arguments` without the program name.
GuiCommandLine ParseGuiCommandLine(const QStringList& arguments);

// True when the arguments ask only for --help or --version, which need no display.
bool WantsHelpOrVersion(int argc, char** argv);

QString GuiHelpText();
QString GuiVersionText();

}  // namespace zentrova::app
