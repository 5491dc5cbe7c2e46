#include "app/QtPrompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "app/CompressorDialog.h"

namespace zentrova::app {

std::unique_ptr<QFileDialog> MakeRecordingFileDialog(QWidget* parent, const BrowseRequest& request) {
  auto dialog = std::make_unique<QFileDialog>(parent);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilters(request.filters);
  if (!request.filters.isEmpty()) dialog->selectNameFilter(request.filters.first());
  dialog->setDefaultSuffix(request.defaultSuffix);
  if (!request.startFolder.isEmpty()) dialog->setDirectory(request.startFolder);
  return dialog;
}

std::unique_ptr<QMessageBox> MakeReplaceQuestion(QWidget* parent, const QString& path) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setIcon(QMessageBox::Warning);
  box->setWindowTitle(QString::fromLatin1(kApplicationName));
  box->setTextFormat(Qt::PlainText);
  box->setText(QStringLiteral("%1 already exists. Replace it?").arg(QFileInfo(path).fileName()));
  box->setInformativeText(QStringLiteral("The conversion writes a new file in its place."));
  QPushButton* replace = box->addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
  replace->setObjectName(QStringLiteral("replace"));
  QPushButton* cancel = box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  return box;
}

std::unique_ptr<QMessageBox> MakeRecoverQuestion(QWidget* parent, const QString& damage) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setIcon(QMessageBox::Question);
  box->setWindowTitle(QString::fromLatin1(kApplicationName));
  box->setTextFormat(Qt::PlainText);
  box->setText(damage + QStringLiteral(" Recover it?"));
  box->setInformativeText(QStringLiteral(
      "Recovering searches the file for every frame it holds; each recording found becomes an AVI file of its own. "
      "No converts it as it is."));
  box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box->setDefaultButton(QMessageBox::Yes);
  box->setEscapeButton(QMessageBox::No);
  return box;
}

QString QtPrompts::ChooseRecording(QWidget* parent, const BrowseRequest& request) {
  auto dialog = MakeRecordingFileDialog(parent, request);
  if (dialog->exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog->selectedFiles();
  if (chosen.isEmpty()) return {};
  return chosen.first();
}

bool QtPrompts::ConfirmReplace(QWidget* parent, const QString& path) {
  auto box = MakeReplaceQuestion(parent, path);
  box->exec();
  return box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
}

bool QtPrompts::ConfirmRecover(QWidget* parent, const QString& damage) {
  auto box = MakeRecoverQuestion(parent, damage);
  return box->exec() == QMessageBox::Yes;
}

std::optional<avi::CompressOptions> QtPrompts::ChooseCompressor(QWidget* parent) {
  CompressorDialog dialog(avi::ListCompressors(), parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.options();
}

void QtPrompts::ShowFileError(QWidget* parent, const QString& message) {
  QMessageBox::warning(parent, QString::fromLatin1(kApplicationName), message);
}

}  // namespace zentrova::app
