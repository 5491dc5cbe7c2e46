#pragma once
// The main window: the two file names with Browse, Convert, the compressor hint, the log of every
// message, Close and About. It drives one ConversionJob: the set-up on the window's thread, the
// frame loop on a ConversionWorker, and "File saved!" back on the window's thread.
//
// Around the ten fixed controls: a recording can come from Browse, from the command line ("open
// with") or be dropped on the window, and each fills the two names the same way; Browse opens in
// the folder of the name in the input field, else in a remembered one; the log's context menu
// copies lines; the bottom row shows the progress of a running conversion with the time left.
// The reasons the job gives for a failure go into the log, each on the line after the job's own
// line (the job may report a reason just before or just after that line).
#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "app/RememberedFolders.h"

class QAction;
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

  // A recording chosen by any means (Browse, the command line, a drop): its full path goes into
  // the input field and, when its name ends in "zr" or "zrx", the derived name into the output
  // field; its folder is remembered and the progress of an earlier job is cleared. Refused (false)
  // while a conversion holds the job.
  bool OpenRecording(const QString& path);

  // True from a started conversion until "File saved!".
  bool conversionRunning() const { return worker_ != nullptr; }

 public slots:
  void Browse();
  void Convert();
  // Ends the running frame loop after the frame in hand; the file keeps the frames so far.
  void CancelConversion();
  void About();
  // The log's selected lines, or all of them, to the clipboard, one line each.
  void CopyLogSelection();
  void CopyWholeLog();
  // Every way out (Close, Enter, Escape, the title bar) ends here: a running conversion is
  // cancelled and waited for, and whatever it holds is released.
  void done(int result) override;

 signals:
  // A conversion has ended with "File saved!"; its file is complete.
  void conversionFinished();
  // The progress display has been refreshed during a frame loop.
  void progressShown(uint32_t done, uint32_t total);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  void FitLogLines();
  void ScrollLogToEnd();
  void PlaceWindow();
  void StartFrameLoop();
  void OnFrameLoopDone();
  void UpdateProgress();
  void ResetProgress();
  bool AskBeforeReplacing(const QString& input, const QString& output, bool* overwrite);
  void MakeJob(bool overwrite);
  void PostReason(const std::string& reason);
  void AddJobLine(const QString& text);
  void AddReason(const QString& text);
  void FlushReasons();
  bool busy() const { return worker_ != nullptr || settingUp_; }
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
  QAction* copyEntry_ = nullptr;
  QAction* copyAllEntry_ = nullptr;
  QTimer progressTimer_;
  QElapsedTimer loopClock_;
  RememberedFolders folders_;
  // Reasons waiting for the job line they belong under.
  QStringList pendingReasons_;

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
