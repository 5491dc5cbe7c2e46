#include "app/QtPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

#include "app/CompressorDialog.h"

namespace zentrova::app {

std::unique_ptr<QFileDialog> MakeRecordingFileDialog(QWidget* parent, const QStringList& filters,
                                                     const QString& defaultSuffix) {
  auto dialog = std::make_unique<QFileDialog>(parent);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilters(filters);
  if (!filters.isEmpty()) dialog->selectNameFilter(filters.first());
  dialog->setDefaultSuffix(defaultSuffix);
  return dialog;
}

QString QtPrompts::ChooseRecording(QWidget* parent, const QStringList& filters, const QString& defaultSuffix) {
  auto dialog = MakeRecordingFileDialog(parent, filters, defaultSuffix);
  if (dialog->exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog->selectedFiles();
  if (chosen.isEmpty()) return {};
  return chosen.first();
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
