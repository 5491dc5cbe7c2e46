#pragma once
// The questions the main dialog puts to the user in dialogs of their own: which recording to
// open and which file to write, whether to replace an existing output file, whether to recover a
// damaged recording, which video compressor to use, whether to stop a running conversion and
// whether to keep what a stopped one wrote, and the report of a file error. The program answers
// them with real dialogs (QtPrompts); the tests answer them directly.
#include <QString>
#include <QStringList>
#include <optional>

#include "app/BrowseRules.h"
#include "avi/Compressor.h"

class QWidget;

namespace zentrova::app {

class Prompts {
 public:
  virtual ~Prompts() = default;

  // An existing file, or an empty string when the user cancels. The first filter is selected and
  // the dialog opens in the request's start folder.
  virtual QString ChooseRecording(QWidget* parent, const BrowseRequest& request) = 0;

  // True when the user agrees that Convert replaces the existing file at `path`.
  virtual bool ConfirmReplace(QWidget* parent, const QString& path) = 0;

  // True when the user wants the damaged recording recovered; `damage` says what is damaged and
  // the question adds "Recover it?". False converts it as it is.
  virtual bool ConfirmRecover(QWidget* parent, const QString& damage) = 0;

  // The compressor for one conversion; nullopt when the user cancels.
  virtual std::optional<avi::CompressOptions> ChooseCompressor(QWidget* parent) = 0;

  // A file error the reader or the AVI writer met, in a message box captioned with the
  // application's name.
  virtual void ShowFileError(QWidget* parent, const QString& message) = 0;

  // The file to write, chosen in a save dialog that starts at `suggested` and offers AVI,
  // Matroska and MP4; an empty string when the user cancels.
  virtual QString ChooseOutput(QWidget* parent, const QString& suggested) {
    (void)parent;
    (void)suggested;
    return {};
  }

  // True when the user wants to stop the conversion in progress and leave.
  virtual bool ConfirmStop(QWidget* parent) {
    (void)parent;
    return true;
  }

  // After a conversion that was to replace `output` was cancelled or failed: true keeps the
  // frames it wrote at `partial` beside the untouched file, false removes them.
  virtual bool ConfirmKeepPartial(QWidget* parent, const QString& output, const QString& partial) {
    (void)parent;
    (void)output;
    (void)partial;
    return true;
  }
};

}  // namespace zentrova::app
