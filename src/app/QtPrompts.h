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

class QtPrompts : public Prompts {
 public:
  QString ChooseRecording(QWidget* parent, const BrowseRequest& request) override;
  bool ConfirmReplace(QWidget* parent, const QString& path) override;
  bool ConfirmRecover(QWidget* parent, const QString& damage) override;
  std::optional<avi::CompressOptions> ChooseCompressor(QWidget* parent) override;
  void ShowFileError(QWidget* parent, const QString& message) override;
};

}  // namespace zentrova::app
