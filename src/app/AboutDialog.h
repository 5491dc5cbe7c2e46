#pragma once
// The About box: the icon, the program's name and version, one more line and OK.
#include <QDialog>

namespace zentrova::app {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace zentrova::app
