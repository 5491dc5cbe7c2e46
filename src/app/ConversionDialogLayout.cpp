// The main window's controls and where they sit: a grid for the two names and their Browse
// buttons, the recording's facts, the hint, a settings area, the log (which takes the room the
// window gains) and the bottom row.
#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>

#include "app/ConversionDialog.h"
#include "app/RecordingHealth.h"
#include "app/TimeWindowFields.h"
#include "app/WindowPlacement.h"
#include "avi/Compressor.h"
#include "convert/Messages.h"

namespace zentrova::app {
namespace {

QPushButton* MakeButton(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  // Enter presses Convert, the default button, wherever the focus is.
  button->setAutoDefault(false);
  return button;
}

QLabel* MakeLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

// The compressors Convert offers, as `zentrova codecs` lists them, the default marked.
QString HintText() {
  QStringList names;
  for (const avi::CompressorInfo& c : avi::ListCompressors()) {
    if (!c.available) continue;
    const QString name = QString::fromStdString(c.name);
    names << (c.name == avi::kDefaultCodec ? name + QStringLiteral(" (plays everywhere)") : name);
  }
  return QStringLiteral("Convert asks for the video compressor: %1. Save as .avi, .mkv or .mp4.")
      .arg(names.join(QStringLiteral(", ")));
}

}  // namespace

void ConversionDialog::CreateControls() {
  inputLabel_ = MakeLabel(QStringLiteral("&Recording:"), "inputLabel", this);
  outputLabel_ = MakeLabel(QStringLiteral("&Save as:"), "outputLabel", this);
  inputLabel_->setTextFormat(Qt::AutoText);
  outputLabel_->setTextFormat(Qt::AutoText);
  inputField_ = new QLineEdit(this);
  inputField_->setObjectName(QStringLiteral("inputName"));
  outputField_ = new QLineEdit(this);
  outputField_->setObjectName(QStringLiteral("outputName"));
  inputLabel_->setBuddy(inputField_);
  outputLabel_->setBuddy(outputField_);
  // A file dropped on a field is a recording for the window, not text for the field.
  inputField_->setAcceptDrops(false);
  outputField_->setAcceptDrops(false);
  connect(inputField_, &QLineEdit::textEdited, this, [this] {
    if (!busy()) ResetProgress();
  });
  connect(inputField_, &QLineEdit::editingFinished, this, [this] {
    if (busy()) return;
    ShowFacts(inputField_->text());
    timeWindow_->FillFrom(QFile::encodeName(inputField_->text()).toStdString());
  });
  browse_ = MakeButton(QStringLiteral("&Browse..."), "browse", this);
  browse_->setToolTip(QStringLiteral("Choose a recording (Ctrl+O)"));
  browseOutput_ = MakeButton(QStringLiteral("Bro&wse..."), "browseOutput", this);
  browseOutput_->setToolTip(QStringLiteral("Choose where to save: AVI, Matroska or MP4"));

  facts_ = MakeLabel(QString(), "facts", this);
  facts_->setWordWrap(true);
  facts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  facts_->hide();
  hint_ = MakeLabel(HintText(), "hint", this);
  hint_->setWordWrap(true);
  settingsArea_ = new QWidget(this);
  settingsArea_->setObjectName(QStringLiteral("settings"));
  new QHBoxLayout(settingsArea_);
  settingsArea_->layout()->setContentsMargins(0, 0, 0, 0);
  saveReport_ = new QCheckBox(QStringLiteral("Save a repor&t"), settingsArea_);
  saveReport_->setObjectName(QStringLiteral("saveReport"));
  saveReport_->setToolTip(
      QStringLiteral("Beside the output, NAME.report.json and NAME.report.txt: the SHA-256 of both files, the "
                     "settings, every frame not shown as recorded, the pauses of the recorder and the log"));
  saveReport_->setChecked(SettingsStore().value(QStringLiteral("conversion/saveReport"), false).toBool());
  connect(saveReport_, &QCheckBox::toggled, this,
          [](bool on) { SettingsStore().setValue(QStringLiteral("conversion/saveReport"), on); });
  settingsArea_->layout()->addWidget(saveReport_);
  timeWindow_ = new TimeWindowFields(settingsArea_);
  settingsArea_->layout()->addWidget(timeWindow_);

  log_ = new QListWidget(this);
  log_->setObjectName(QStringLiteral("log"));
  log_->setSortingEnabled(false);
  log_->setUniformItemSizes(true);
  log_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  log_->setTextElideMode(Qt::ElideNone);
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(true);
  progress_->setAlignment(Qt::AlignCenter);
  progress_->hide();
  cancel_ = MakeButton(QStringLiteral("Ca&ncel"), "cancel", this);
  cancel_->hide();
  openFolder_ = MakeButton(QStringLiteral("Open &folder"), "openFolder", this);
  openFolder_->hide();
  playOutput_ = MakeButton(QStringLiteral("&Play"), "playOutput", this);
  playOutput_->hide();
  about_ = MakeButton(QStringLiteral("&About..."), "about", this);
  convert_ = MakeButton(QStringLiteral("&Convert"), "convert", this);
  convert_->setDefault(true);
  close_ = MakeButton(QStringLiteral("C&lose"), "close", this);

  auto* names = new QGridLayout;
  names->addWidget(inputLabel_, 0, 0);
  names->addWidget(inputField_, 0, 1);
  names->addWidget(browse_, 0, 2);
  names->addWidget(facts_, 1, 1, 1, 2);
  names->addWidget(outputLabel_, 2, 0);
  names->addWidget(outputField_, 2, 1);
  names->addWidget(browseOutput_, 2, 2);
  names->setColumnStretch(1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(progress_, 1);
  bottom->addWidget(cancel_);
  bottom->addWidget(openFolder_);
  bottom->addWidget(playOutput_);
  bottom->addStretch();
  bottom->addWidget(about_);
  bottom->addWidget(convert_);
  bottom->addWidget(close_);
  auto* column = new QVBoxLayout(this);
  column->addLayout(names);
  column->addWidget(hint_);
  column->addWidget(settingsArea_);
  column->addWidget(log_, 1);
  column->addLayout(bottom);

  setTabOrder(inputField_, browse_);
  setTabOrder(browse_, outputField_);
  setTabOrder(outputField_, browseOutput_);
  setTabOrder(browseOutput_, saveReport_);
  setTabOrder(saveReport_, log_);
  setTabOrder(log_, convert_);
  setTabOrder(convert_, close_);
  setTabOrder(close_, about_);

  connect(browse_, &QPushButton::clicked, this, &ConversionDialog::Browse);
  connect(browseOutput_, &QPushButton::clicked, this, &ConversionDialog::BrowseOutput);
  connect(convert_, &QPushButton::clicked, this, &ConversionDialog::Convert);
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
  connect(about_, &QPushButton::clicked, this, &ConversionDialog::About);
  connect(cancel_, &QPushButton::clicked, this, &ConversionDialog::CancelConversion);
  connect(openFolder_, &QPushButton::clicked, this, &ConversionDialog::OpenOutputFolder);
  connect(playOutput_, &QPushButton::clicked, this, &ConversionDialog::PlayOutput);
  auto* open = new QShortcut(QKeySequence::Open, this);
  connect(open, &QShortcut::activated, this, &ConversionDialog::Browse);
}

void ConversionDialog::CreateMenus() {
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
}

void ConversionDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ScrollLogToEnd();
  if (placed_) return;
  placed_ = true;
  FocusFirstEmptyField();
  if (restoreGeometry(SettingsStore().value(QStringLiteral("window/geometry")).toByteArray())) return;
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
  const QRect place = PlaceMainWindow(screenRect.size(), extra, size());
  move(screenRect.topLeft() + place.topLeft());
}

void ConversionDialog::FocusFirstEmptyField() {
  if (inputField_->text().isEmpty())
    inputField_->setFocus();
  else if (outputField_->text().isEmpty())
    outputField_->setFocus();
  else
    convert_->setFocus();
}

void ConversionDialog::SetJobControls(bool running) {
  browse_->setEnabled(!running);
  browseOutput_->setEnabled(!running);
  convert_->setEnabled(!running);
  // A job's report is decided when it begins.
  saveReport_->setEnabled(!running);
  if (running) {
    openFolder_->hide();
    playOutput_->hide();
  }
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

void ConversionDialog::ShowFacts(const QString& path) {
  const RecordingFacts facts = DescribeRecording(path);
  facts_->setText(facts.text);
  facts_->setToolTip(facts.text);
  facts_->setVisible(!facts.text.isEmpty());
  // A warning stands out from the plain facts.
  facts_->setStyleSheet(facts.damaged ? QStringLiteral("color: #b00000;") : QString());
}

}  // namespace zentrova::app
