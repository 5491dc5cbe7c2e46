#include "app/QtPrompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <algorithm>

#include "app/CompressorDialog.h"
#include "app/RememberedFolders.h"

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
  // The last choice is offered again.
  QSettings store = SettingsStore();
  dialog.selectCodec(store.value(QStringLiteral("compressor/codec")).toString());
  dialog.setQuality(store.value(QStringLiteral("compressor/quality"), CompressorDialog::kDefaultQuality).toInt());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const avi::CompressOptions chosen = dialog.options();
  store.setValue(QStringLiteral("compressor/codec"), QString::fromStdString(chosen.codec));
  store.setValue(QStringLiteral("compressor/quality"), chosen.quality);
  return chosen;
}

std::unique_ptr<QFileDialog> MakeOutputFileDialog(QWidget* parent, const QString& suggested) {
  static const QStringList kFilters = {QStringLiteral("AVI files (*.avi)"), QStringLiteral("Matroska files (*.mkv)"),
                                       QStringLiteral("MP4 files (*.mp4)")};
  static const QStringList kSuffixes = {QStringLiteral("avi"), QStringLiteral("mkv"), QStringLiteral("mp4")};
  auto dialog = std::make_unique<QFileDialog>(parent);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilters(kFilters);
  const int chosen = std::max<int>(0, static_cast<int>(kSuffixes.indexOf(QFileInfo(suggested).suffix().toLower())));
  dialog->selectNameFilter(kFilters[chosen]);
  dialog->setDefaultSuffix(kSuffixes[chosen]);
  QFileDialog* raw = dialog.get();
  QObject::connect(raw, &QFileDialog::filterSelected, raw, [raw](const QString& filter) {
    raw->setDefaultSuffix(kSuffixes[std::max<int>(0, static_cast<int>(kFilters.indexOf(filter)))]);
  });
  if (!suggested.isEmpty()) {
    dialog->setDirectory(QFileInfo(suggested).absolutePath());
    dialog->selectFile(QFileInfo(suggested).fileName());
  }
  return dialog;
}

QString QtPrompts::ChooseOutput(QWidget* parent, const QString& suggested) {
  auto dialog = MakeOutputFileDialog(parent, suggested);
  if (dialog->exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog->selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

bool QtPrompts::ConfirmStop(QWidget* parent) {
  QMessageBox box(parent);
  box.setIcon(QMessageBox::Question);
  box.setWindowTitle(QString::fromLatin1(kApplicationName));
  box.setText(QStringLiteral("A conversion is running. Stop it and quit?"));
  box.setInformativeText(QStringLiteral("The file keeps the frames converted so far; a file it was to replace stays as it was."));
  QPushButton* stop = box.addButton(QStringLiteral("Stop and quit"), QMessageBox::AcceptRole);
  QPushButton* goOn = box.addButton(QStringLiteral("Go on converting"), QMessageBox::RejectRole);
  box.setDefaultButton(goOn);
  box.setEscapeButton(goOn);
  box.exec();
  return box.clickedButton() == stop;
}

bool QtPrompts::ConfirmKeepPartial(QWidget* parent, const QString& output, const QString& partial) {
  QMessageBox box(parent);
  box.setIcon(QMessageBox::Question);
  box.setWindowTitle(QString::fromLatin1(kApplicationName));
  box.setTextFormat(Qt::PlainText);
  box.setText(QStringLiteral("%1 was left as it was. Keep the frames converted so far as %2?")
                  .arg(QFileInfo(output).fileName(), QFileInfo(partial).fileName()));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::Yes);
  return box.exec() != QMessageBox::No;
}

void QtPrompts::ShowFileError(QWidget* parent, const QString& message) {
  QMessageBox::warning(parent, QString::fromLatin1(kApplicationName), message);
}

}  // namespace zentrova::app
