#pragma once
// The About box: the icon, the program's name and its version (the command line's), what it
// does, where its terms are, whom to write to, the libraries it runs on, and OK.
#include <QDialog>
#include <QString>

namespace zentrova::app {

// "Zentrova 1.0.0": the version `zentrova --version` gives.
QString AboutVersionText();

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace zentrova::app
