#include "app/AboutDialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/ProgramIcon.h"

namespace zentrova::app {

// Pixel places of the box's four controls: its dialog-unit layout (235 x 55 units) at one and a
// half pixels per horizontal unit and thirteen eighths per vertical unit.
AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Zentrova"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(353, 89);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  icon->setPixmap(ProgramIconPixmap());
  icon->setGeometry(16, 28, 32, 32);

  auto* version = new QLabel(QStringLiteral("Zentrova Version 1.0"), this);
  version->setObjectName(QStringLiteral("version"));
  version->setTextFormat(Qt::PlainText);
  version->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  version->setGeometry(66, 28, 189, 16);

  auto* line = new QLabel(QStringLiteral("Converts ZR recordings into AVI files."), this);
  line->setObjectName(QStringLiteral("line"));
  line->setTextFormat(Qt::PlainText);
  line->setGeometry(66, 52, 250, 16);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  ok->setGeometry(267, 11, 75, 23);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zentrova::app
