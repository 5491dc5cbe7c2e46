// zentrova-gui: the desktop converter, one dialog window.
#include "app/ConverterApp.h"

int main(int argc, char** argv) {
  zentrova::app::ConverterApp app(argc, argv);
  return app.InitInstance();
}
