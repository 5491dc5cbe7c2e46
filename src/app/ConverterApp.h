#pragma once
// The application object: starts Qt, shows the conversion dialog modally and ends the program
// when the dialog ends.
#include <QApplication>

namespace zentrova::app {

class ConverterApp {
 public:
  ConverterApp(int& argc, char** argv);

  // Runs the dialog to its end; the program's exit status.
  int InitInstance();

 private:
  QApplication application_;
};

}  // namespace zentrova::app
