#pragma once
// An unattended conversion for demonstrations and screenshots, switched on by environment
// variables (the program itself takes no command line):
//   ZENTROVA_AUTORUN_INPUT       the recording to convert (required to switch it on); several,
//                                separated by ':', are queued into the output's folder
//   ZENTROVA_AUTORUN_OUTPUT      the AVI file to write
//   ZENTROVA_AUTORUN_WINDOW      "maximized" to show the window maximized
//   ZENTROVA_AUTORUN_CODEC       the compressor to answer the compressor question with (raw)
//   ZENTROVA_AUTORUN_SCREENSHOT  a PNG to which the window is saved once "File saved!" shows;
//                                the program then ends
//   ZENTROVA_AUTORUN_SCREENSHOT_AT  a percentage (0-100): save the window while the frames are
//                                converted, once the bar has reached it, instead
#include <QString>
#include <optional>

#include "app/Prompts.h"

namespace zentrova::app {

class ConversionDialog;

struct AutorunSettings {
  QString input;
  QString output;
  QString codec = QStringLiteral("raw");
  QString screenshot;
  int screenshotAtPercent = -1;  // -1: after the conversion's last line (the queue's last)
  bool maximized = false;
};

std::optional<AutorunSettings> AutorunFromEnvironment();

// Answers the compressor question with the preset codec, the replace question with yes, the
// recover question with no and everything else as `inner` does.
class AutorunPrompts : public Prompts {
 public:
  AutorunPrompts(Prompts& inner, QString codec) : inner_(inner), codec_(std::move(codec)) {}
  QString ChooseRecording(QWidget* parent, const BrowseRequest& request) override;
  // An unattended run replaces the output it was told to write.
  bool ConfirmReplace(QWidget* parent, const QString& path) override { return true; }
  // An unattended run converts the recording it was given as it is, one conversion.
  bool ConfirmRecover(QWidget*, const QString&) override { return false; }
  std::optional<avi::CompressOptions> ChooseCompressor(QWidget* parent) override;
  void ShowFileError(QWidget* parent, const QString& message) override;

 private:
  Prompts& inner_;
  QString codec_;
};

// Fills the names and presses Convert once the window shows; saves the screenshot and ends the
// dialog after the conversion.
void StartAutorun(ConversionDialog& dialog, const AutorunSettings& settings);

}  // namespace zentrova::app
