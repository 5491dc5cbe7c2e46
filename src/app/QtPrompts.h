#pragma once
// The real dialogs behind Prompts.
#include <memory>

#include "app/Prompts.h"

class QFileDialog;
class QMessageBox;

namespace zentrova::app {

inline constexpr const char* kApplicationName = "Zentrova";

// The open-file dialog Browse shows: only an existing file can be confirmed, the first filter is
// the one selected, and it opens in the request's start folder. Made apart from showing it so its
// set-up can be checked.
std::unique_ptr<QFileDialog> MakeRecordingFileDialog(QWidget* parent, const BrowseRequest& request);

// The question before Convert replaces an existing file: Replace or Cancel, Cancel the default.
std::unique_ptr<QMessageBox> MakeReplaceQuestion(QWidget* parent, const QString& path);

// The question before a damaged recording is converted: what is damaged, "Recover it?", Yes (the
// default) or No.
std::unique_ptr<QMessageBox> MakeRecoverQuestion(QWidget* parent, const QString& damage);

// The save dialog of the output's Browse: AVI, Matroska and MP4, the filter of the suggested
// name's type selected, the name given the chosen filter's ending when typed without one.
std::unique_ptr<QFileDialog> MakeOutputFileDialog(QWidget* parent, const QString& suggested);

class QtPrompts : public Prompts {
 public:
  QString ChooseRecording(QWidget* parent, const BrowseRequest& request) override;
  bool ConfirmReplace(QWidget* parent, const QString& path) override;
  bool ConfirmRecover(QWidget* parent, const QString& damage) override;
  std::optional<avi::CompressOptions> ChooseCompressor(QWidget* parent) override;
  void ShowFileError(QWidget* parent, const QString& message) override;
  QString ChooseOutput(QWidget* parent, const QString& suggested) override;
  bool ConfirmStop(QWidget* parent) override;
  bool ConfirmKeepPartial(QWidget* parent, const QString& output, const QString& partial) override;
};

}  // namespace zentrova::app
