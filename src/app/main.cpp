// zentrova-gui: the desktop converter, one dialog window.
#include <cstdio>

#include "app/CommandLine.h"
#include "app/ConverterApp.h"

int main(int argc, char** argv) {
  // --help and --version answer without a display.
  if (zentrova::app::WantsHelpOrVersion(argc, argv)) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const auto line = zentrova::app::ParseGuiCommandLine(arguments);
    const QString text = line.action == zentrova::app::GuiCommandLine::Action::Version
                             ? zentrova::app::GuiVersionText()
                             : zentrova::app::GuiHelpText();
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return 0;
  }
  zentrova::app::ConverterApp app(argc, argv);
  return app.InitInstance();
}
