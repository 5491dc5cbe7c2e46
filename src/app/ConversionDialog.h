#pragma once
// The main window: the two file names with Browse, Convert, the compressor hint, the log of every
// message, Close and About. It drives one ConversionJob: the set-up on the window's thread, the
// frame loop on a ConversionWorker, and "File saved!" back on the window's thread.
#include <QDialog>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace zentrova {
class ConversionJob;
}

namespace zentrova::app {

class ConversionWorker;
class Prompts;

class ConversionDialog : public QDialog {
  Q_OBJECT

 public:
  // Lines of the log that show at once; older lines scroll up and are never removed.
  static constexpr int kVisibleLogLines = 14;

  explicit ConversionDialog(Prompts& prompts, QWidget* parent = nullptr);
  ~ConversionDialog() override;

  // Appends one line to the log and scrolls so that the last lines show.
  void AddLogLine(const QString& text);

  // Puts names into the two fields, as typing them would.
  void SetNames(const QString& input, const QString& output);

  // True from a started conversion until "File saved!".
  bool conversionRunning() const { return worker_ != nullptr; }

 public slots:
  void Browse();
  void Convert();
  // Ends the running frame loop after the frame in hand; the file keeps the frames so far.
  void CancelConversion();
  void About();
  // Every way out (Close, Enter, Escape, the title bar) ends here: a running conversion is
  // cancelled and waited for, and whatever it holds is released.
  void done(int result) override;

 signals:
  // A conversion has ended with "File saved!"; its file is complete.
  void conversionFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  void FitLogLines();
  void ScrollLogToEnd();
  void PlaceWindow();
  void StartFrameLoop();
  void OnFrameLoopDone();
  void UpdateProgress();
  void SetJobControls(bool running);
  void PostLogLine(const std::string& line);
  void PostFileError(const std::string& message);
  void ReleaseJob();

  Prompts& prompts_;

  QListWidget* log_ = nullptr;
  QLabel* hint_ = nullptr;
  QLabel* inputLabel_ = nullptr;
  QLabel* outputLabel_ = nullptr;
  QLineEdit* inputField_ = nullptr;
  QLineEdit* outputField_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* convert_ = nullptr;
  QPushButton* close_ = nullptr;
  QPushButton* about_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QTimer progressTimer_;

  QString inputName_;
  QString outputName_;
  bool preferZrx_ = false;
  bool placed_ = false;
  bool settingUp_ = false;
  bool endPending_ = false;
  int pendingResult_ = 0;
  uint32_t frameTotal_ = 0;

  std::unique_ptr<ConversionJob> job_;
  std::unique_ptr<ConversionWorker> worker_;
};

}  // namespace zentrova::app
