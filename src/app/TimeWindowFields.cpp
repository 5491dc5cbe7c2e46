#include "app/TimeWindowFields.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "convert/WindowRequest.h"
#include "recording/ClockText.h"
#include "recording/TimedRecording.h"

namespace zentrova::app {
namespace {

// "2008-01-10 10:14:05.040": the recorder's own time with its milliseconds, so that the end of
// the last frame reads back as the same moment.
QString RecorderTimeField(ClockMs t, int32_t utcOffsetHours) {
  std::string text = IsoRecorderMs(t, utcOffsetHours);
  text[10] = ' ';
  text.resize(23);
  return QString::fromStdString(text);
}

}  // namespace

TimeWindowFields::TimeWindowFields(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("timeWindow"));
  onlyPart_ = new QCheckBox(QStringLiteral("&Only part, from"), this);
  onlyPart_->setObjectName(QStringLiteral("onlyPart"));
  from_ = new QLineEdit(this);
  from_->setObjectName(QStringLiteral("fromTime"));
  to_ = new QLineEdit(this);
  to_->setObjectName(QStringLiteral("toTime"));
  const QString tip = QStringLiteral(
      "A clock time with its date in the recorder's time (2008-01-10 02:14:05; Z for UTC, +hh:mm for another "
      "offset) or a position in the recording (1:23:45.5, 83:20, 90s); empty: its start or end");
  from_->setToolTip(tip);
  to_->setToolTip(tip);
  auto* toLabel = new QLabel(QStringLiteral("&to"), this);
  toLabel->setBuddy(to_);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(onlyPart_);
  row->addWidget(from_, 1);
  row->addWidget(toLabel);
  row->addWidget(to_, 1);
  // Typing a time means the user wants part of the recording.
  auto check = [this] { onlyPart_->setChecked(true); };
  connect(from_, &QLineEdit::textEdited, this, check);
  connect(to_, &QLineEdit::textEdited, this, check);
}

void TimeWindowFields::FillFrom(const std::string& recordingPath) {
  if (recordingPath == filledFor_) return;
  filledFor_ = recordingPath;
  from_->clear();
  to_->clear();
  TimedRecording timed;
  if (!timed.Open(recordingPath, 0) || timed.clock->frameCount() == 0) return;
  RecordingClock& clock = *timed.clock;
  from_->setText(RecorderTimeField(clock.start(), clock.utcOffsetHours()));
  to_->setText(RecorderTimeField(clock.end(), clock.utcOffsetHours()));
}

bool TimeWindowFields::onlyPart() const { return onlyPart_->isChecked(); }

Expected<std::optional<FrameWindow>> TimeWindowFields::WindowFor(const std::string& recordingPath) const {
  if (!onlyPart()) return std::optional<FrameWindow>();
  WindowTexts texts;
  texts.from = from_->text().trimmed().toStdString();
  texts.to = to_->text().trimmed().toStdString();
  texts.fromName = "From";
  texts.toName = "To";
  WindowRequest request;
  if (auto parsed = ParseWindowRequest(texts, request); !parsed) return Failure("Only part: " + parsed.reason());
  TimedRecording timed;
  if (auto opened = timed.Open(recordingPath, 0); !opened)
    return Failure("Only part: the recording's clock cannot be read: " + opened.reason());
  std::optional<FrameWindow> window;
  const WindowPlacement placed = PlaceWindow(request, *timed.reader, *timed.clock, window);
  switch (placed.fit) {
    case WindowFit::Fits: return window;
    case WindowFit::Invalid: break;
    case WindowFit::Outside: return Failure("Only part: nothing to convert: " + placed.why + ".");
  }
  return Failure("Only part: " + placed.why + ".");
}

}  // namespace zentrova::app
