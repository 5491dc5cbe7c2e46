// Several recordings converted one after another into one folder, each named after its
// recording with the output's type; one compressor question serves them all, and the log gives
// each one's end.
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include "app/ConversionDialog.h"
#include "app/Prompts.h"
#include "container/ContainerFile.h"
#include "convert/ConversionJob.h"
#include "convert/ReportRecorder.h"

namespace zentrova::app {
namespace {

std::string LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

}  // namespace

bool ConversionDialog::QueueRecordings(const QStringList& paths) {
  if (busy() || paths.isEmpty()) return false;
  if (paths.size() == 1) return OpenRecording(paths.first());
  const QString output = outputField_->text();
  queueFolder_ = output.isEmpty() ? QFileInfo(paths.first()).absolutePath() : QFileInfo(output).absolutePath();
  queue_ = paths;
  queueTotal_ = static_cast<int>(paths.size());
  queueCompressor_.reset();
  window_.reset();  // a window belongs to one recording
  AddLogLine(QStringLiteral("Converting %1 recordings into %2, one after another.").arg(paths.size()).arg(queueFolder_));
  ConvertNextQueued();
  return true;
}

QString ConversionDialog::QueueItemName() const {
  return QStringLiteral("[%1/%2] %3")
      .arg(queueTotal_ - queue_.size())
      .arg(queueTotal_)
      .arg(QFileInfo(inputName_).fileName());
}

void ConversionDialog::ConvertNextQueued() {
  while (!queue_.isEmpty() && !endPending_) {
    inputName_ = queue_.takeFirst();
    const QString ending = container::FormatOfName(LocalPath(outputField_->text())) == container::Format::Avi
                               ? QStringLiteral("avi")
                               : QFileInfo(outputField_->text()).suffix().toLower();
    outputName_ = queueFolder_ + QLatin1Char('/') + QFileInfo(inputName_).completeBaseName() + QLatin1Char('.') + ending;
    SetNames(inputName_, outputName_);
    ShowFacts(inputName_);
    bool overwrite = false;
    settingUp_ = true;
    const bool go = AskBeforeReplacing(inputName_, outputName_, &overwrite);
    settingUp_ = false;
    if (!go) {
      AddLogLine(QStringLiteral("%1: skipped, %2 was kept.").arg(QueueItemName(), QFileInfo(outputName_).fileName()));
      continue;
    }
    MakeJob(overwrite, outputName_);
    if (!BeginReport(outputName_, nullptr, overwrite)) continue;
    const ConversionJob::Setup setup = SetUpJob(outputName_, [this] {
      if (!queueCompressor_) queueCompressor_ = prompts_.ChooseCompressor(this);
      return NoteCompressor(*queueCompressor_);
    });
    if (setup == ConversionJob::Setup::Started && !endPending_) {
      StartFrameLoop();
      return;
    }
    if (setup == ConversionJob::Setup::Cancelled) {
      AddLogLine(QStringLiteral("%1: cancelled; the recordings after it were not converted.").arg(QueueItemName()));
      break;
    }
    AddLogLine(QStringLiteral("%1: failed.").arg(QueueItemName()));
  }
  EndQueue();
}

void ConversionDialog::EndQueue() {
  const bool ending = endPending_;
  queue_.clear();
  queueTotal_ = 0;
  queueCompressor_.reset();
  SetJobControls(false);
  emit queueFinished();
  if (ending) done(pendingResult_);
}

}  // namespace zentrova::app
