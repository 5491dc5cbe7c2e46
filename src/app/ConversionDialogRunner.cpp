// Running conversions from the main window: one job as the names say, a damaged recording's
// search and recovery, the end of each frame loop, and the progress display.
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "app/ConversionDialog.h"
#include "app/ConversionWorker.h"
#include "app/ProgressText.h"
#include "app/Prompts.h"
#include "app/RecordingHealth.h"
#include "app/ScanWorker.h"
#include "container/ContainerFile.h"
#include "convert/ConversionJob.h"
#include "convert/FoundReport.h"
#include "convert/ReportRecorder.h"

namespace zentrova::app {
namespace {

std::string LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }
QString FromLocalPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

void ConversionDialog::ConvertAsItIs() {
  bool overwrite = false;
  if (!AskBeforeReplacing(inputName_, outputName_, &overwrite)) return;
  MakeJob(overwrite, outputName_);
  if (!BeginReport(outputName_, nullptr, overwrite)) return;
  const ConversionJob::Setup setup =
      SetUpJob(outputName_, [this] { return NoteCompressor(prompts_.ChooseCompressor(this)); });
  if (setup == ConversionJob::Setup::Started) {
    folders_.RememberRecording(QFileInfo(inputName_).absoluteFilePath());
    folders_.RememberOutput(QFileInfo(outputName_).absoluteFilePath());
  }
  if (setup == ConversionJob::Setup::Started && !endPending_) {
    StartFrameLoop();
    return;
  }
  SetJobControls(false);
  if (setup == ConversionJob::Setup::Cancelled) SetNames(inputName_, outputName_);
  if (endPending_) done(pendingResult_);
}

bool ConversionDialog::ConvertDamaged() {
  // Only names the job would go on with are worth a look: the name checks log their own lines.
  if (inputName_.isEmpty() || !container::IsOutputName(LocalPath(outputName_))) return false;
  const RecordingHealth health = CheckRecording(inputName_);
  if (!health.opened) {
    if (!health.searchable) return false;
    // Whether there is anything to recover is known only once the file has been searched.
    StartScan(true, health.failure);
    return true;
  }
  if (health.damage.isEmpty()) return false;
  settingUp_ = true;
  const bool recover = prompts_.ConfirmRecover(this, health.damage);
  settingUp_ = false;
  if (endPending_) {
    done(pendingResult_);
    return true;
  }
  if (!recover) return false;
  StartScan(false, {});
  return true;
}

void ConversionDialog::StartScan(bool askFirst, const QString& failure) {
  askAfterScan_ = askFirst;
  openFailure_ = failure;
  SetJobControls(true);
  ResetProgress();
  progress_->setRange(0, 1000);
  progress_->setValue(0);
  progress_->show();
  cancel_->setEnabled(true);
  cancel_->show();

  scanner_ = std::make_unique<ScanWorker>(LocalPath(inputName_));
  ScanWorker* scanner = scanner_.get();
  connect(
      scanner, &QThread::finished, this,
      [this, scanner] {
        if (scanner_.get() == scanner) OnScanDone();
      },
      Qt::QueuedConnection);
  UpdateProgress();
  progressTimer_.start();
  scanner->start();
}

void ConversionDialog::OnScanDone() {
  scanner_->wait();
  progressTimer_.stop();
  auto result = std::make_unique<ScanResult>(std::move(scanner_->result()));
  scanner_.reset();
  cancel_->hide();
  SetJobControls(false);
  if (result->cancelled) {
    AddLogLine(QStringLiteral("Search cancelled: nothing was converted."));
    emit recoveryFinished();
    return;
  }
  if (!result->error.empty())
    AddLogLine(QStringLiteral("%1: %2").arg(QFileInfo(inputName_).fileName(), QString::fromLocal8Bit(result->error)));
  ResetProgress();
  if (result->recordings.empty()) {
    // Nothing to recover: the plain conversion says what it makes of the file.
    if (!askAfterScan_) AddLogLine(QStringLiteral("The search found no recording in it; converting it as it is."));
    ConvertAsItIs();
    return;
  }
  if (askAfterScan_) {
    settingUp_ = true;
    const bool recover = prompts_.ConfirmRecover(this, DescribeUnopenedButFound(inputName_, openFailure_, *result));
    settingUp_ = false;
    if (endPending_) {
      done(pendingResult_);
      return;
    }
    if (!recover) {
      ConvertAsItIs();
      return;
    }
  }
  found_ = std::move(result);
  nextFound_ = 0;
  recovering_ = true;
  recoveryCompressor_.reset();
  ConvertNextFound();
}

void ConversionDialog::ConvertNextFound() {
  const size_t count = found_->recordings.size();
  while (nextFound_ < count) {
    const size_t i = nextFound_++;
    const FoundRecording& found = found_->recordings[i];
    for (const std::string& line : DescribeFound(found, i, count)) AddLogLine(QString::fromLocal8Bit(line));
    const QString output = FromLocalPath(NumberedName(LocalPath(outputName_), i));

    bool overwrite = false;
    settingUp_ = true;
    const bool go = AskBeforeReplacing(inputName_, output, &overwrite);
    settingUp_ = false;
    if (endPending_) break;
    if (!go) {
      // The user keeps the file; the log says which footage that leaves out.
      AddLogLine(QStringLiteral("%1 was kept: recording %2 was not converted.").arg(QFileInfo(output).fileName()).arg(i + 1));
      continue;
    }
    MakeJob(overwrite, output, &found);
    if (!BeginReport(output, &found, overwrite)) continue;
    const ConversionJob::Setup setup = SetUpJob(output, [this] {
      if (!recoveryCompressor_) recoveryCompressor_ = prompts_.ChooseCompressor(this);
      return NoteCompressor(*recoveryCompressor_);
    });
    if (setup == ConversionJob::Setup::Started) {
      folders_.RememberRecording(QFileInfo(inputName_).absoluteFilePath());
      folders_.RememberOutput(QFileInfo(output).absoluteFilePath());
      if (!endPending_) {
        StartFrameLoop();
        return;
      }
    }
    if (endPending_ || setup == ConversionJob::Setup::Cancelled) break;  // a cancelled compressor question ends it all
  }
  const bool ending = endPending_;
  EndRecovery();
  if (ending) done(pendingResult_);
}

ConversionJob::Setup ConversionDialog::SetUpJob(const QString& output, const CompressorChooser& choose) {
  ResetProgress();
  SetJobControls(true);
  settingUp_ = true;
  const ConversionJob::Setup setup = job_->Convert(LocalPath(inputName_), LocalPath(output), choose);
  settingUp_ = false;
  FlushReasons();
  if (setup == ConversionJob::Setup::Failed) FinishReport(kReportNotStarted);
  if (setup == ConversionJob::Setup::Cancelled) DropReport();
  return setup;
}

void ConversionDialog::EndRecovery() {
  recovering_ = false;
  SetJobControls(false);
  // The jobs read the search's result: the next job must not point into it.
  if (job_ && !job_->busy()) MakeJob(false, outputName_);
  found_.reset();
  recoveryCompressor_.reset();
  emit recoveryFinished();
}

void ConversionDialog::StartFrameLoop() {
  frameTotal_ = job_->frameCount();
  progress_->setRange(0, static_cast<int>(std::clamp<uint32_t>(frameTotal_, 1, INT32_MAX)));
  progress_->setValue(0);
  progress_->show();
  loopClock_.start();
  cancel_->setEnabled(true);
  cancel_->show();
  UpdateProgress();

  worker_ = std::make_unique<ConversionWorker>(*job_);
  ConversionWorker* worker = worker_.get();
  // Queued behind every log line the loop posted, so the job's last line always comes last.
  connect(
      worker, &QThread::finished, this,
      [this, worker] {
        if (worker_.get() == worker) OnFrameLoopDone();
      },
      Qt::QueuedConnection);
  progressTimer_.start();
  worker->start();
}

void ConversionDialog::OnFrameLoopDone() {
  worker_->wait();
  const bool cancelled = worker_->cancelRequested();
  const ConversionJob::LoopResult result = worker_->result();
  progressTimer_.stop();
  UpdateProgress();
  worker_.reset();
  UpdateProgress();
  cancel_->hide();
  FlushReasons();
  job_->Finish();
  FlushReasons();
  if (report_) {
    report_->Loop(result, job_->rate());
    // A recording found by recovery has no block chain to time its frames by.
    FinishReport(ReportStatusOf(result.outcome), !recovering_);
  }
  if (result.outcome != JobOutcome::Saved)
    MarkBarShort(result.cancelled ? QStringLiteral("Cancelled") : QStringLiteral("Ended short"));
  if (!result.partialPath.empty()) OfferPartial(FromLocalPath(result.partialPath));
  if (recovering_) {
    emit conversionFinished();
    const size_t left = found_->recordings.size() - nextFound_;
    if (cancelled && left > 0) {
      AddLogLine(left == 1 ? QStringLiteral("1 more recording found was not converted.")
                           : QStringLiteral("%1 more recordings found were not converted.").arg(left));
      nextFound_ = found_->recordings.size();
    }
    ConvertNextFound();
    return;
  }
  if (queueTotal_ > 0) {
    const QString how = result.outcome == JobOutcome::Saved ? QStringLiteral("saved as %1").arg(QFileInfo(outputName_).fileName())
                        : result.cancelled                 ? QStringLiteral("cancelled")
                                                           : QStringLiteral("ended short, see above");
    AddLogLine(QStringLiteral("%1: %2.").arg(QueueItemName(), how));
    if (cancelled && !queue_.isEmpty()) {
      AddLogLine(QStringLiteral("%1 more recordings in the queue were not converted.").arg(queue_.size()));
      queue_.clear();
    }
    emit conversionFinished();
    ConvertNextQueued();
    return;
  }
  SetJobControls(false);
  if (result.outcome == JobOutcome::Saved || result.outcome == JobOutcome::RecordingShort) {
    savedOutput_ = currentOutput_;
    openFolder_->show();
    playOutput_->show();
  }
  emit conversionFinished();
}

void ConversionDialog::OfferPartial(const QString& partial) {
  if (prompts_.ConfirmKeepPartial(this, currentOutput_, partial)) return;
  if (QFile::remove(partial)) AddLogLine(QStringLiteral("%1 was removed.").arg(partial));
}

void ConversionDialog::UpdateProgress() {
  if (scanner_) {
    const uint64_t total = scanner_->bytesTotal();
    const int share = total ? static_cast<int>(std::min<uint64_t>(scanner_->bytesDone(), total) * 1000 / total) : 0;
    progress_->setValue(share);
    progress_->setFormat(QStringLiteral("Searching %1%").arg(share / 10));
    return;
  }
  // Between jobs the bar keeps what the last one did, without a time left.
  if (!worker_) {
    progress_->setFormat(QStringLiteral("%1%").arg(PercentDone(static_cast<uint32_t>(std::max(0, progress_->value())), frameTotal_)));
    return;
  }
  const uint32_t done = worker_->framesDone();
  progress_->setValue(static_cast<int>(std::min<uint32_t>(done, INT32_MAX)));
  progress_->setFormat(ProgressText(done, frameTotal_, loopClock_.elapsed()));
  emit progressShown(done, frameTotal_);
}

void ConversionDialog::MarkBarShort(const QString& why) {
  const uint32_t done = static_cast<uint32_t>(std::max(0, progress_->value()));
  progress_->setFormat(QStringLiteral("%1 at %2%").arg(why).arg(PercentDone(done, frameTotal_)));
  progress_->setToolTip(QStringLiteral("The conversion did not save every frame; the log says why."));
  progress_->setProperty("endedShort", true);
  progress_->setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: #c0392b; }"));
}

void ConversionDialog::ResetProgress() {
  progress_->reset();
  progress_->setFormat(QString());
  progress_->setToolTip(QString());
  progress_->setProperty("endedShort", false);
  progress_->setStyleSheet(QString());
  progress_->hide();
}

void ConversionDialog::CancelConversion() {
  if (scanner_) {
    scanner_->RequestCancel();
    cancel_->setEnabled(false);
    return;
  }
  if (!worker_) return;
  worker_->RequestCancel();
  cancel_->setEnabled(false);
}

}  // namespace zentrova::app
