#include "app/ConversionDialog.h"

#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/AboutDialog.h"
#include "app/BrowseRules.h"
#include "app/ConversionWorker.h"
#include "app/ProgramIcon.h"
#include "app/Prompts.h"
#include "app/QtPrompts.h"
#include "app/ScanWorker.h"
#include "app/TimeWindowFields.h"
#include "app/WindowPlacement.h"
#include "container/ContainerFile.h"
#include "convert/ConversionJob.h"
#include "convert/ReportRecorder.h"

namespace zentrova::app {
namespace {

// How often the progress display reads the worker's frame count.
constexpr int kProgressIntervalMs = 100;

std::string LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

// The local files a drag carries (folders and other things left out).
QStringList DroppedFiles(const QMimeData* mime) {
  QStringList files;
  if (!mime || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) files << QFileInfo(url.toLocalFile()).absoluteFilePath();
  return files;
}

// True when both names lead to the same file (any spelling, links included).
bool SameFile(const QString& a, const QString& b) {
  std::error_code error;
  return std::filesystem::equivalent(std::filesystem::path(LocalPath(a)), std::filesystem::path(LocalPath(b)), error);
}

// The output's ending a recording's derived name takes: that of the output named so far.
QString OutputEnding(const QString& output) {
  const container::Format format = container::FormatOfName(LocalPath(output));
  return format == container::Format::Avi ? QStringLiteral("avi") : QFileInfo(output).suffix().toLower();
}

}  // namespace

ConversionDialog::ConversionDialog(Prompts& prompts, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      prompts_(prompts) {
  setWindowTitle(QString::fromLatin1(kApplicationName));
  setWindowIcon(ProgramIcon());
  setSizeGripEnabled(true);
  CreateControls();
  CreateMenus();
  resize(kClientSize);
  setAcceptDrops(true);
  MakeJob(false, QString());

  progressTimer_.setInterval(kProgressIntervalMs);
  connect(&progressTimer_, &QTimer::timeout, this, &ConversionDialog::UpdateProgress);
}

ConversionDialog::~ConversionDialog() {
  // QDialog's own destructor hides the window, which takes the focus from a name field and makes
  // it signal the end of an edit: by then this part of the dialog is gone, so nothing may answer.
  inputField_->disconnect(this);
  outputField_->disconnect(this);
  // A report being written is finished first; the line it posts goes with the window.
  for (std::thread& t : reportThreads_) t.join();
  ReleaseJob();
}

void ConversionDialog::SetNames(const QString& input, const QString& output) {
  inputField_->setText(input);
  outputField_->setText(output);
}

void ConversionDialog::Browse() {
  if (busy()) return;
  BrowseRequest request = BrowseRequestFor(preferZrx_);
  request.startFolder = BrowseStartFolder(inputField_->text(), folders_.BrowseFallbacks());
  const QString path = prompts_.ChooseRecording(this, request);
  if (path.isEmpty()) return;
  OpenRecording(path);
}

void ConversionDialog::BrowseOutput() {
  if (busy()) return;
  QString suggested = outputField_->text();
  if (suggested.isEmpty() && !folders_.outputFolder().isEmpty())
    suggested = folders_.outputFolder() + QStringLiteral("/recording.avi");
  const QString path = prompts_.ChooseOutput(this, suggested);
  if (path.isEmpty()) return;
  outputField_->setText(path);
}

bool ConversionDialog::OpenRecording(const QString& path) {
  if (busy() || path.isEmpty()) return false;
  // An output name typed by hand stands unless the chosen file gives a new one.
  outputName_ = outputField_->text();
  if (const auto derived = DeriveOutputName(path, OutputEnding(outputName_))) {
    outputName_ = derived->outputName;
    preferZrx_ = derived->preferZrx;
  }
  inputName_ = path;
  SetNames(inputName_, outputName_);
  folders_.RememberRecording(path);
  ResetProgress();
  openFolder_->hide();
  playOutput_->hide();
  ShowFacts(path);
  timeWindow_->FillFrom(LocalPath(path));
  return true;
}

void ConversionDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy() && !DroppedFiles(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
    return;
  }
  event->ignore();
}

void ConversionDialog::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedFiles(event->mimeData());
  if (files.size() == 1 && OpenRecording(files.first())) {
    event->acceptProposedAction();
    return;
  }
  if (files.size() < 2 || busy()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // The queue's first conversion starts from its own turn of the event loop, not inside the drop.
  QTimer::singleShot(0, this, [this, files] { QueueRecordings(files); });
}

void ConversionDialog::Convert() {
  if (busy()) return;  // one conversion at a time
  inputName_ = inputField_->text();
  outputName_ = outputField_->text();
  window_.reset();
  const Expected<std::optional<FrameWindow>> window = timeWindow_->WindowFor(LocalPath(inputName_));
  if (!window) {
    AddLogLine(QString::fromStdString(window.reason()));
    return;
  }
  window_ = *window;
  if (window_)
    AddLogLine(QStringLiteral("Only part: frames %1 to %2 of the recording.").arg(window_->first).arg(window_->end - 1));
  // A part is cut from the recording's chain as it stands; a search for recordings converts
  // whole ones.
  if (!window_ && ConvertDamaged()) return;
  ConvertAsItIs();
}

bool ConversionDialog::AskBeforeReplacing(const QString& input, const QString& output, bool* overwrite) {
  *overwrite = false;
  // Only a name the job would go on to write is worth a question: the name checks come first
  // and log their own lines. An output that is the recording itself is never replaced; the job
  // refuses it with its reason.
  if (input.isEmpty() || !container::IsOutputName(LocalPath(output))) return true;
  const QFileInfo existing(output);
  if (!existing.exists() || !existing.isFile() || SameFile(input, output)) return true;
  if (!prompts_.ConfirmReplace(this, output)) return false;
  *overwrite = true;
  return true;
}

void ConversionDialog::MakeJob(bool overwrite, const QString& output, const FoundRecording* found) {
  JobOptions options;
  options.overwrite = overwrite;
  options.found = found;
  if (!found) options.window = window_;
  // The same rule as the job's: .mkv and .mp4 name theirs, every other name is AVI.
  options.format = container::FormatOfName(LocalPath(output));
  currentOutput_ = output;
  job_ = std::make_unique<ConversionJob>(
      [this](const std::string& line) { PostLogLine(line); },
      [this](const std::string& message) { PostFileError(message); }, options,
      [this](const std::string& reason) { PostReason(reason); });
}

void ConversionDialog::About() {
  AboutDialog about(this);
  about.exec();
}

void ConversionDialog::SetPlayerLookup(PlayerLookup lookup) {
  playerLookup_ = std::move(lookup);
  RefreshPlayEntry();
}

void ConversionDialog::RefreshPlayEntry() {
  if (!playerLookup_) playerLookup_ = FindPlayer;
  player_ = playerLookup_();
  const QString recording = inputField_->text();
  if (!player_.available()) {
    playEntry_->setEnabled(false);
    playEntry_->setToolTip(player_.missing);
  } else if (recording.isEmpty() || !QFileInfo(recording).isFile()) {
    playEntry_->setEnabled(false);
    playEntry_->setToolTip(QStringLiteral("Play opens the recording named in the input field; choose one first."));
  } else {
    playEntry_->setEnabled(true);
    playEntry_->setToolTip(QStringLiteral("Plays %1 with %2.").arg(QFileInfo(recording).fileName(), player_.name));
  }
}

void ConversionDialog::PlayRecording() {
  const QString recording = inputField_->text();
  if (!player_.available() || recording.isEmpty()) return;
  if (!StartPlayer(player_, QFileInfo(recording).absoluteFilePath()))
    AddLogLine(QStringLiteral("%1 could not be started.").arg(player_.name));
}

void ConversionDialog::OpenOutputFolder() {
  if (savedOutput_.isEmpty()) return;
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(savedOutput_).absolutePath())))
    AddLogLine(QStringLiteral("The folder %1 could not be opened.").arg(QFileInfo(savedOutput_).absolutePath()));
}

void ConversionDialog::PlayOutput() {
  if (savedOutput_.isEmpty()) return;
  // The converted file is an ordinary video: the desktop's own player takes it.
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(savedOutput_).absoluteFilePath())))
    AddLogLine(QStringLiteral("No player could be started for %1.").arg(QFileInfo(savedOutput_).fileName()));
}

void ConversionDialog::reject() {
  if (busy() && !endPending_ && !prompts_.ConfirmStop(this)) return;
  QDialog::reject();
}

void ConversionDialog::done(int result) {
  // The job's set-up is still on the stack (the compressor question is open): end once it returns.
  if (settingUp_) {
    endPending_ = true;
    pendingResult_ = result;
    return;
  }
  SettingsStore().setValue(QStringLiteral("window/geometry"), saveGeometry());
  ReleaseJob();
  QDialog::done(result);
}

void ConversionDialog::ReleaseJob() {
  progressTimer_.stop();
  if (scanner_) {
    scanner_->RequestCancel();
    scanner_->wait();
    scanner_.reset();
  }
  recovering_ = false;
  queue_.clear();
  queueTotal_ = 0;
  if (worker_) {
    worker_->RequestCancel();
    worker_->wait();
    worker_.reset();
  }
  if (!job_) return;
  job_->ReleaseDecoding();
  job_->ReleaseAvi();
}

}  // namespace zentrova::app
