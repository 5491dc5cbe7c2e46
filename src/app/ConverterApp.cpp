#include "app/ConverterApp.h"

#include <memory>

#include "app/Autorun.h"
#include "app/ConversionDialog.h"
#include "app/ProgramIcon.h"
#include "app/QtPrompts.h"

namespace zentrova::app {

ConverterApp::ConverterApp(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  QApplication::setWindowIcon(ProgramIcon());
}

int ConverterApp::InitInstance() {
  QtPrompts prompts;
  const std::optional<AutorunSettings> autorun = AutorunFromEnvironment();
  std::unique_ptr<AutorunPrompts> autorunPrompts;
  if (autorun) autorunPrompts = std::make_unique<AutorunPrompts>(prompts, autorun->codec);

  ConversionDialog dialog(autorunPrompts ? static_cast<Prompts&>(*autorunPrompts) : prompts);
  if (autorun) StartAutorun(dialog, *autorun);
  // The dialog's result is not looked at: however it ends, the program ends.
  dialog.exec();
  return 0;
}

}  // namespace zentrova::app
