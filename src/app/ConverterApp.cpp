#include "app/ConverterApp.h"

#include <cstdio>
#include <memory>

#include "app/Autorun.h"
#include "app/CommandLine.h"
#include "app/ConversionDialog.h"
#include "app/ProgramIcon.h"
#include "app/QtPrompts.h"

namespace zentrova::app {

ConverterApp::ConverterApp(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QApplication::setApplicationVersion(QString::fromLatin1(ZENTROVA_VERSION));
  QApplication::setWindowIcon(ProgramIcon());
  // The desktop entry's name, so that window managers match the window to its launcher.
  QGuiApplication::setDesktopFileName(QStringLiteral("zentrova"));
}

int ConverterApp::InitInstance() {
  // QApplication has taken its own options out already.
  const GuiCommandLine line = ParseGuiCommandLine(QApplication::arguments().mid(1));
  if (line.action == GuiCommandLine::Action::Error) {
    std::fprintf(stderr, "zentrova-gui: %s\nRun with --help for more information.\n",
                 line.error.toLocal8Bit().constData());
    return 2;
  }

  QtPrompts prompts;
  const std::optional<AutorunSettings> autorun = AutorunFromEnvironment();
  std::unique_ptr<AutorunPrompts> autorunPrompts;
  if (autorun) autorunPrompts = std::make_unique<AutorunPrompts>(prompts, autorun->codec);

  ConversionDialog dialog(autorunPrompts ? static_cast<Prompts&>(*autorunPrompts) : prompts);
  // "Open with": the file fills the input field as a chosen one would.
  if (!line.recording.isEmpty()) dialog.OpenRecording(line.recording);
  if (autorun) StartAutorun(dialog, *autorun);
  // The dialog's result is not looked at: however it ends, the program ends.
  dialog.exec();
  return 0;
}

}  // namespace zentrova::app
