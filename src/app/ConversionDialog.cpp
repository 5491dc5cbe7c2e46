#include "app/ConversionDialog.h"

#include <QAction>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QThread>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/AboutDialog.h"
#include "app/BrowseRules.h"
#include "app/ConversionWorker.h"
#include "app/ProgramIcon.h"
#include "app/ProgressText.h"
#include "app/Prompts.h"
#include "app/QtPrompts.h"
#include "app/RecordingHealth.h"
#include "app/ScanWorker.h"
#include "app/WindowPlacement.h"
#include "convert/ConversionJob.h"
#include "convert/FoundReport.h"
#include "convert/Messages.h"

namespace zentrova::app {
namespace {

const char* const kHintText =
    "Please select the Intel Indeo or Full Frame(Uncompressed) video format by suggestion.";

// Client-pixel rectangles the window gives its controls: left, top, width, height. The progress
// bar and Cancel use the free strip left of About on the bottom row, so the ten fixed controls
// never move.
constexpr QRect kInputLabelPlace{10, 10, 100, 20};
constexpr QRect kOutputLabelPlace{10, 40, 100, 20};
constexpr QRect kInputFieldPlace{110, 10, 240, 20};
constexpr QRect kOutputFieldPlace{110, 40, 240, 20};
constexpr QRect kBrowsePlace{360, 10, 60, 20};
constexpr QRect kConvertPlace{360, 40, 60, 20};
constexpr QRect kHintPlace{10, 80, 410, 30};
constexpr QRect kLogPlace{10, 110, 410, 180};
constexpr QRect kClosePlace{360, 300, 60, 20};
constexpr QRect kAboutPlace{290, 300, 60, 20};
constexpr QRect kProgressPlace{10, 300, 200, 20};
constexpr QRect kCancelPlace{220, 300, 60, 20};

// How often the progress display reads the worker's frame count.
constexpr int kProgressIntervalMs = 100;

// Every log line gets the same height, chosen so that exactly kVisibleLogLines fit.
class LogLineDelegate : public QStyledItemDelegate {
 public:
  LogLineDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(height_);
    return size;
  }

 private:
  int height_;
};

QPushButton* MakeButton(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  // No button is the default: Enter ends the dialog instead of pressing one.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QLabel* MakeLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

std::string LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }
QString FromLocalPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// The one local file a drag carries, or an empty string.
QString DroppedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return {};
  const QList<QUrl> urls = mime->urls();
  if (urls.size() != 1 || !urls.first().isLocalFile()) return {};
  const QString path = urls.first().toLocalFile();
  return QFileInfo(path).isFile() ? path : QString();
}

// True when both names lead to the same file (any spelling, links included).
bool SameFile(const QString& a, const QString& b) {
  std::error_code error;
  return std::filesystem::equivalent(std::filesystem::path(LocalPath(a)), std::filesystem::path(LocalPath(b)), error);
}

}  // namespace

ConversionDialog::ConversionDialog(Prompts& prompts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      prompts_(prompts) {
  setWindowTitle(QString::fromLatin1(kApplicationName));
  setWindowIcon(ProgramIcon());
  setFixedSize(kClientSize);
  CreateControls();

  auto* aboutEntry = new QAction(QString::fromLatin1(messages::kAboutMenu), this);
  aboutEntry->setObjectName(QStringLiteral("aboutEntry"));
  connect(aboutEntry, &QAction::triggered, this, &ConversionDialog::About);
  // Play is looked at each time a menu opens (players come and go); until then it waits.
  playEntry_ = new QAction(QStringLiteral("&Play"), this);
  playEntry_->setObjectName(QStringLiteral("playEntry"));
  playEntry_->setEnabled(false);
  connect(playEntry_, &QAction::triggered, this, &ConversionDialog::PlayRecording);
  addActions({playEntry_, aboutEntry});
  // Menus of our own rather than Qt's action menus: those do not show a disabled entry's tooltip.
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { ShowContextMenu(this, position); });

  // The log's own menu: Copy and Copy all beside the About entry.
  copyEntry_ = new QAction(QStringLiteral("&Copy"), log_);
  copyEntry_->setObjectName(QStringLiteral("copyEntry"));
  copyEntry_->setShortcut(QKeySequence::Copy);
  copyEntry_->setShortcutContext(Qt::WidgetShortcut);
  copyEntry_->setEnabled(false);
  connect(copyEntry_, &QAction::triggered, this, &ConversionDialog::CopyLogSelection);
  copyAllEntry_ = new QAction(QStringLiteral("Copy &all"), log_);
  copyAllEntry_->setObjectName(QStringLiteral("copyAllEntry"));
  connect(copyAllEntry_, &QAction::triggered, this, &ConversionDialog::CopyWholeLog);
  auto* separator = new QAction(log_);
  separator->setSeparator(true);
  log_->addActions({copyEntry_, copyAllEntry_, separator, playEntry_, aboutEntry});
  log_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(log_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { ShowContextMenu(log_, position); });
  connect(log_, &QListWidget::itemSelectionChanged, this,
          [this] { copyEntry_->setEnabled(!log_->selectedItems().isEmpty()); });

  setAcceptDrops(true);
  MakeJob(false);

  progressTimer_.setInterval(kProgressIntervalMs);
  connect(&progressTimer_, &QTimer::timeout, this, &ConversionDialog::UpdateProgress);
}

ConversionDialog::~ConversionDialog() { ReleaseJob(); }

void ConversionDialog::CreateControls() {
  // Made in tab order: the log first, the buttons last.
  log_ = new QListWidget(this);
  log_->setObjectName(QStringLiteral("log"));
  log_->setSortingEnabled(false);
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  log_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  log_->setUniformItemSizes(true);
  log_->setSelectionMode(QAbstractItemView::ExtendedSelection);

  hint_ = MakeLabel(QString::fromLatin1(kHintText), "hint", this);
  hint_->setWordWrap(true);
  hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  inputLabel_ = MakeLabel(QStringLiteral("Input Zr File:"), "inputLabel", this);
  outputLabel_ = MakeLabel(QStringLiteral("Output Avi File:"), "outputLabel", this);
  inputLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  outputLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  inputField_ = new QLineEdit(this);
  inputField_->setObjectName(QStringLiteral("inputName"));
  outputField_ = new QLineEdit(this);
  outputField_->setObjectName(QStringLiteral("outputName"));
  // A file dropped on a field is a recording for the window, not text for the field.
  inputField_->setAcceptDrops(false);
  outputField_->setAcceptDrops(false);
  connect(inputField_, &QLineEdit::textEdited, this, [this] {
    if (!busy()) ResetProgress();
  });

  browse_ = MakeButton(QStringLiteral("Browse..."), "browse", this);
  convert_ = MakeButton(QStringLiteral("Convert"), "convert", this);
  close_ = MakeButton(QStringLiteral("Close"), "close", this);
  about_ = MakeButton(QStringLiteral("About..."), "about", this);

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(true);
  progress_->setAlignment(Qt::AlignCenter);
  progress_->hide();
  cancel_ = MakeButton(QStringLiteral("Cancel"), "cancel", this);
  cancel_->hide();

  inputLabel_->setGeometry(kInputLabelPlace);
  outputLabel_->setGeometry(kOutputLabelPlace);
  inputField_->setGeometry(kInputFieldPlace);
  outputField_->setGeometry(kOutputFieldPlace);
  browse_->setGeometry(kBrowsePlace);
  convert_->setGeometry(kConvertPlace);
  hint_->setGeometry(kHintPlace);
  log_->setGeometry(kLogPlace);
  close_->setGeometry(kClosePlace);
  about_->setGeometry(kAboutPlace);
  progress_->setGeometry(kProgressPlace);
  cancel_->setGeometry(kCancelPlace);
  FitLogLines();

  setTabOrder(log_, inputField_);
  setTabOrder(inputField_, outputField_);
  setTabOrder(outputField_, browse_);
  setTabOrder(browse_, convert_);
  setTabOrder(convert_, close_);
  setTabOrder(close_, about_);
  setTabOrder(about_, cancel_);
  log_->setFocus();

  connect(browse_, &QPushButton::clicked, this, &ConversionDialog::Browse);
  connect(convert_, &QPushButton::clicked, this, &ConversionDialog::Convert);
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
  connect(about_, &QPushButton::clicked, this, &ConversionDialog::About);
  connect(cancel_, &QPushButton::clicked, this, &ConversionDialog::CancelConversion);
}

void ConversionDialog::FitLogLines() {
  const int viewportHeight = kLogPlace.height() - 2 * log_->frameWidth();
  const int lineHeight = std::max(1, viewportHeight / kVisibleLogLines);
  QFont font = log_->font();
  for (int pixels = lineHeight; pixels >= 6; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).height() <= lineHeight) break;
  }
  log_->setFont(font);
  log_->setItemDelegate(new LogLineDelegate(lineHeight, log_));
}

void ConversionDialog::AddLogLine(const QString& text) {
  log_->addItem(text);
  ScrollLogToEnd();
}

void ConversionDialog::ScrollLogToEnd() {
  const int count = log_->count();
  if (count <= kVisibleLogLines) return;
  // The line kVisibleLogLines from the end goes to the top, which is the end of the list.
  log_->scrollToItem(log_->item(count - kVisibleLogLines), QAbstractItemView::PositionAtTop);
  log_->scrollToBottom();
}

void ConversionDialog::SetNames(const QString& input, const QString& output) {
  inputField_->setText(input);
  outputField_->setText(output);
}

void ConversionDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ScrollLogToEnd();
  if (placed_) return;
  placed_ = true;
  PlaceWindow();
  // A window manager adds its frame only once the window is mapped; place again when it has.
  QTimer::singleShot(100, this, &ConversionDialog::PlaceWindow);
}

void ConversionDialog::PlaceWindow() {
  const QScreen* screen = this->screen();
  if (!screen) return;
  const QRect frame = frameGeometry();
  const QSize extra(frame.width() - width(), frame.height() - height());
  const QRect screenRect = screen->geometry();
  const QRect place = PlaceMainWindow(screenRect.size(), extra);
  move(screenRect.topLeft() + place.topLeft());
}

void ConversionDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);  // Escape rejects
}

void ConversionDialog::Browse() {
  if (busy()) return;
  BrowseRequest request = BrowseRequestFor(preferZrx_);
  request.startFolder = BrowseStartFolder(inputField_->text(), folders_.BrowseFallbacks());
  const QString path = prompts_.ChooseRecording(this, request);
  if (path.isEmpty()) return;
  OpenRecording(path);
}

bool ConversionDialog::OpenRecording(const QString& path) {
  if (busy() || path.isEmpty()) return false;
  // An output name typed by hand stands unless the chosen file gives a new one.
  outputName_ = outputField_->text();
  if (const auto derived = DeriveOutputName(path)) {
    outputName_ = derived->outputName;
    preferZrx_ = derived->preferZrx;
  }
  inputName_ = path;
  SetNames(inputName_, outputName_);
  folders_.RememberRecording(path);
  ResetProgress();
  return true;
}

void ConversionDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy() && !DroppedFile(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
    return;
  }
  event->ignore();
}

void ConversionDialog::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty() || !OpenRecording(QFileInfo(path).absoluteFilePath())) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
}

void ConversionDialog::Convert() {
  if (busy()) return;  // one conversion at a time
  inputName_ = inputField_->text();
  outputName_ = outputField_->text();
  if (ConvertDamaged()) return;
  ConvertAsItIs();
}

void ConversionDialog::ConvertAsItIs() {
  bool overwrite = false;
  if (!AskBeforeReplacing(inputName_, outputName_, &overwrite)) return;
  MakeJob(overwrite);
  ResetProgress();

  SetJobControls(true);
  settingUp_ = true;
  const ConversionJob::Setup setup = job_->Convert(LocalPath(inputName_), LocalPath(outputName_),
                                                   [this] { return prompts_.ChooseCompressor(this); });
  settingUp_ = false;
  FlushReasons();

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
  if (inputName_.isEmpty() || !outputName_.endsWith(QStringLiteral("avi"), Qt::CaseSensitive)) return false;
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
    MakeJob(overwrite, &found);
    ResetProgress();
    SetJobControls(true);
    settingUp_ = true;
    const ConversionJob::Setup setup = job_->Convert(LocalPath(inputName_), LocalPath(output), [this] {
      if (!recoveryCompressor_) recoveryCompressor_ = prompts_.ChooseCompressor(this);
      return *recoveryCompressor_;
    });
    settingUp_ = false;
    FlushReasons();
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

void ConversionDialog::EndRecovery() {
  recovering_ = false;
  SetJobControls(false);
  // The jobs read the search's result: the next job must not point into it.
  if (job_ && !job_->busy()) MakeJob(false);
  found_.reset();
  recoveryCompressor_.reset();
  emit recoveryFinished();
}

bool ConversionDialog::AskBeforeReplacing(const QString& input, const QString& output, bool* overwrite) {
  *overwrite = false;
  // Only a name the job would go on to write is worth a question: the name checks come first
  // and log their own lines. An output that is the recording itself is never replaced; the job
  // refuses it with its reason.
  if (input.isEmpty() || !output.endsWith(QStringLiteral("avi"), Qt::CaseSensitive)) return true;
  const QFileInfo existing(output);
  if (!existing.exists() || !existing.isFile() || SameFile(input, output)) return true;
  if (!prompts_.ConfirmReplace(this, output)) return false;
  *overwrite = true;
  return true;
}

void ConversionDialog::MakeJob(bool overwrite, const FoundRecording* found) {
  JobOptions options;
  options.overwrite = overwrite;
  options.found = found;
  job_ = std::make_unique<ConversionJob>(
      [this](const std::string& line) { PostLogLine(line); },
      [this](const std::string& message) { PostFileError(message); }, options,
      [this](const std::string& reason) { PostReason(reason); });
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
  // Queued behind every log line the loop posted, so "File saved!" always comes last.
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
  progressTimer_.stop();
  UpdateProgress();
  worker_.reset();
  UpdateProgress();
  cancel_->hide();
  FlushReasons();
  job_->Finish();
  FlushReasons();
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
  SetJobControls(false);
  emit conversionFinished();
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

void ConversionDialog::ResetProgress() {
  progress_->reset();
  progress_->setFormat(QString());
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

void ConversionDialog::SetJobControls(bool running) {
  browse_->setEnabled(!running);
  convert_->setEnabled(!running);
}

void ConversionDialog::About() {
  AboutDialog about(this);
  about.exec();
}

void ConversionDialog::CopyLogSelection() {
  QList<QListWidgetItem*> items = log_->selectedItems();
  if (items.isEmpty()) return;
  std::sort(items.begin(), items.end(),
            [this](QListWidgetItem* a, QListWidgetItem* b) { return log_->row(a) < log_->row(b); });
  QStringList lines;
  for (QListWidgetItem* item : items) lines << item->text();
  QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void ConversionDialog::CopyWholeLog() {
  QStringList lines;
  for (int i = 0; i < log_->count(); ++i) lines << log_->item(i)->text();
  QGuiApplication::clipboard()->setText(lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
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

void ConversionDialog::ShowContextMenu(QWidget* owner, const QPoint& position) {
  RefreshPlayEntry();
  QMenu menu(this);
  menu.setToolTipsVisible(true);
  menu.addActions(owner->actions());
  // The log reports positions in its viewport.
  QWidget* origin = owner == log_ ? log_->viewport() : owner;
  menu.exec(origin->mapToGlobal(position));
}

void ConversionDialog::PostLogLine(const std::string& line) {
  const QString text = QString::fromLocal8Bit(line);
  if (QThread::currentThread() == thread()) {
    AddJobLine(text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, text] { AddJobLine(text); }, Qt::QueuedConnection);
}

void ConversionDialog::PostReason(const std::string& reason) {
  const QString text = QString::fromLocal8Bit(reason);
  if (QThread::currentThread() == thread()) {
    AddReason(text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, text] { AddReason(text); }, Qt::QueuedConnection);
}

void ConversionDialog::AddJobLine(const QString& text) {
  AddLogLine(text);
  FlushReasons();
}

void ConversionDialog::AddReason(const QString& text) { pendingReasons_ << text; }

void ConversionDialog::FlushReasons() {
  const QStringList reasons = std::exchange(pendingReasons_, {});
  for (const QString& reason : reasons) AddLogLine(reason);
}

void ConversionDialog::PostFileError(const std::string& message) {
  const QString text = QString::fromLocal8Bit(message);
  if (QThread::currentThread() == thread()) {
    prompts_.ShowFileError(this, text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, text] { prompts_.ShowFileError(this, text); }, Qt::QueuedConnection);
}

void ConversionDialog::done(int result) {
  // The job's set-up is still on the stack (the compressor question is open): end once it returns.
  if (settingUp_) {
    endPending_ = true;
    pendingResult_ = result;
    return;
  }
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
