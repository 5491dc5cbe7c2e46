#pragma once
// "Only part" in the main window: a checkbox and two optional times (from, to), filled with the
// recording's first and last moment in the recorder's time when a recording is chosen. Checked,
// the conversion writes only the frames from..to, read as `convert --from/--to` reads them
// (clock times with their date, or positions in the recording). Nothing of it is remembered
// between runs: the times belong to the recording in hand.
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

#include "base/Expected.h"
#include "convert/FrameWindow.h"

class QCheckBox;
class QLineEdit;

namespace zentrova::app {

class TimeWindowFields : public QWidget {
 public:
  explicit TimeWindowFields(QWidget* parent = nullptr);

  // Fills from and to with the recording's start and end, or empties them when its clock cannot
  // be read; nothing changes for the recording they were filled from. The checkbox stays as it is.
  void FillFrom(const std::string& recordingPath);

  bool onlyPart() const;
  // The frames of the window on the recording at `recordingPath`: nullopt when "only part" is
  // not checked. Refused, with the line for the log, when a time is malformed, the window is
  // empty or holds no frame of the recording: the conversion must not start.
  Expected<std::optional<FrameWindow>> WindowFor(const std::string& recordingPath) const;

 private:
  QCheckBox* onlyPart_ = nullptr;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  std::string filledFor_;  // the recording the times were filled from: typed times stay until another
};

}  // namespace zentrova::app
