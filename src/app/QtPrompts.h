#pragma once
// The real dialogs behind Prompts.
#include <memory>

#include "app/Prompts.h"

class QFileDialog;

namespace zentrova::app {

inline constexpr const char* kApplicationName = "Zentrova";

// The open-file dialog Browse shows: only an existing file can be confirmed, and the first
// filter is the one selected. Made apart from showing it so its set-up can be checked.
std::unique_ptr<QFileDialog> MakeRecordingFileDialog(QWidget* parent, const QStringList& filters,
                                                     const QString& defaultSuffix);

class QtPrompts : public Prompts {
 public:
  QString ChooseRecording(QWidget* parent, const QStringList& filters, const QString& defaultSuffix) override;
  std::optional<avi::CompressOptions> ChooseCompressor(QWidget* parent) override;
  void ShowFileError(QWidget* parent, const QString& message) override;
};

}  // namespace zentrova::app
