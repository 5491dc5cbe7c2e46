#pragma once
// Helpers of the widget tests: prompts the tests answer, modal dialogs answered from inside their
// own event loop, generated recordings and a frame count read back with ffprobe.
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "app/Prompts.h"
#include "recording/ZrFormat.h"
#include "recording/ZrWriter.h"

namespace zentrova::app::testing {

// Answers Browse from a queue, the replace, recover and compressor questions with fixed choices,
// and keeps what was asked and reported.
class FakePrompts : public Prompts {
 public:
  using BrowseCall = BrowseRequest;

  std::deque<QString> recordingAnswers;  // an empty string answers as a cancel
  bool replaceAnswer = true;
  QStringList replaceQuestions;           // the paths asked about
  bool recoverAnswer = true;
  QStringList recoverQuestions;           // what each said is damaged
  std::optional<avi::CompressOptions> compressorAnswer = avi::CompressOptions{"raw", 90};
  std::function<std::optional<avi::CompressOptions>(QWidget*)> compressorQuestion;
  std::vector<BrowseCall> browseCalls;
  QStringList fileErrors;
  int compressorQuestions = 0;

  QString ChooseRecording(QWidget*, const BrowseRequest& request) override {
    browseCalls.push_back(request);
    if (recordingAnswers.empty()) return {};
    QString answer = recordingAnswers.front();
    recordingAnswers.pop_front();
    return answer;
  }
  bool ConfirmReplace(QWidget*, const QString& path) override {
    replaceQuestions << path;
    return replaceAnswer;
  }
  bool ConfirmRecover(QWidget*, const QString& damage) override {
    recoverQuestions << damage;
    return recoverAnswer;
  }
  std::optional<avi::CompressOptions> ChooseCompressor(QWidget* parent) override {
    ++compressorQuestions;
    if (compressorQuestion) return compressorQuestion(parent);
    return compressorAnswer;
  }
  void ShowFileError(QWidget*, const QString& message) override { fileErrors << message; }

  std::deque<QString> outputAnswers;  // an empty string or none answers as a cancel
  QString ChooseOutput(QWidget*, const QString&) override {
    if (outputAnswers.empty()) return {};
    QString answer = outputAnswers.front();
    outputAnswers.pop_front();
    return answer;
  }
  bool stopAnswer = true;
  int stopQuestions = 0;
  bool ConfirmStop(QWidget*) override {
    ++stopQuestions;
    return stopAnswer;
  }
  bool keepPartialAnswer = true;
  QStringList keepPartialQuestions;  // the partial files asked about
  bool ConfirmKeepPartial(QWidget*, const QString&, const QString& partial) override {
    keepPartialQuestions << partial;
    return keepPartialAnswer;
  }
};

// Points the dialog's remembered settings at a folder of its own for as long as it lives, so
// tests neither read nor write the user's configuration.
class SettingsSandbox {
 public:
  SettingsSandbox() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
  }
  QString path() const { return dir_.path(); }
  // Forgets everything stored so far.
  void Clear() {
    QDir(dir_.path()).removeRecursively();
    QDir().mkpath(dir_.path());
  }

 private:
  QTemporaryDir dir_;
};

// Calls `answer` with the next modal dialog that opens, from inside that dialog's event loop.
inline void AnswerNextModal(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    answer(modal);
  });
  timer->start();
}

// A 160 x 112 recording of `frames` frames, each with 300 bytes of audio and no coded picture,
// ten frames to the second.
inline bool WriteRecording(const QString& path, int frames) {
  ZrHeaderFields fields;
  fields.version = kVersionOlder;
  fields.resolutionCode = 0;
  fields.startTime = 1700000000;
  fields.endTime = fields.startTime + std::max(1, frames / 10);
  ZrWriter writer;
  if (!writer.Open(path.toStdString(), fields)) return false;
  std::vector<uint8_t> audio(300, 0x55);
  for (int i = 0; i < frames; ++i) {
    if (i % 100 == 0 && !writer.BeginBlock()) return false;
    ZrFrame frame;
    frame.frameTag = static_cast<uint16_t>(i);
    frame.flags = FlagAudio;
    frame.audio = audio;
    if (!writer.WriteFrame(frame)) return false;
  }
  return writer.Close().ok();
}

inline bool HaveFfprobe() { return !QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty(); }

// The number of video frames ffprobe decodes from an AVI file; -1 when it cannot read the file.
inline int VideoFramesOf(const QString& path) {
  QProcess probe;
  probe.start(QStringLiteral("ffprobe"),
              {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
               QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
               QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
  if (!probe.waitForFinished(60000) || probe.exitCode() != 0) return -1;
  bool ok = false;
  const int frames = QString::fromLatin1(probe.readAllStandardOutput()).trimmed().toInt(&ok);
  return ok ? frames : -1;
}

}  // namespace zentrova::app::testing
