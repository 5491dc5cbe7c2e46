#include "app/AboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtGlobal>

#include "app/ProgramIcon.h"
#include "libav/Module.h"

namespace zentrova::app {
namespace {

QLabel* Line(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

// The libraries the conversion runs on, as `zentrova --version` lists them.
QString LibraryVersions() {
  QString text;
  if (const Expected<const libav::Module*>& module = libav::Load())
    text = QString::fromStdString((*module)->libraryVersions()).trimmed();
  else
    text = QStringLiteral("libavcodec not loaded: %1").arg(QString::fromStdString(module.reason()));
  return text + QStringLiteral("\nQt %1").arg(QString::fromLatin1(qVersion()));
}

}  // namespace

QString AboutVersionText() { return QStringLiteral("Zentrova %1").arg(QString::fromLatin1(ZENTROVA_VERSION)); }

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Zentrova"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  icon->setPixmap(ProgramIconPixmap());
  icon->setAlignment(Qt::AlignTop);

  auto* text = new QVBoxLayout;
  text->addWidget(Line(AboutVersionText(), "version", this));
  text->addWidget(Line(QStringLiteral("Converts ZR recordings into AVI, Matroska and MP4 files."), "line", this));
  text->addWidget(Line(QStringLiteral("Copyright the Zentrova developers. The terms are in "
                                      "/usr/share/doc/zentrova/copyright."),
                       "licence", this));
  text->addWidget(Line(QStringLiteral("Contact: %1").arg(QString::fromLatin1(ZENTROVA_CONTACT)), "address", this));
  text->addWidget(Line(LibraryVersions(), "libraries", this));

  auto* body = new QHBoxLayout;
  body->addWidget(icon);
  body->addLayout(text, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* column = new QVBoxLayout(this);
  column->addLayout(body);
  column->addWidget(buttons);
  column->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace zentrova::app
