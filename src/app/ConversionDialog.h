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
//
// A damaged recording (frames its block chain does not reach, or no readable header while a
// search finds frames) brings a question first; recovering it searches the file on a ScanWorker
// and converts each recording found, one job after another, into numbered outputs. The context
// menus' Play starts a player with the recording.
#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/Player.h"
#include "app/RememberedFolders.h"
#include "avi/Compressor.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace zentrova {
class ConversionJob;
struct FoundRecording;
struct ScanResult;
}

namespace zentrova::app {

class ConversionWorker;
class Prompts;
class ScanWorker;

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
  // True from Convert until nothing more will be done: a search for recordings, a recovery's
  // conversions and the time between them included.
  bool working() const { return busy(); }

  // How Play finds its player (FindPlayer unless replaced), asked each time a context menu opens.
  void SetPlayerLookup(PlayerLookup lookup);
  // Enables Play, or disables it with a tooltip saying why, for the recording in the input field.
  void RefreshPlayEntry();

 public slots:
  void Browse();
  void Convert();
  // Ends the running frame loop after the frame in hand; the file keeps the frames so far.
  void CancelConversion();
  void About();
  // The log's selected lines, or all of them, to the clipboard, one line each.
  void CopyLogSelection();
  void CopyWholeLog();
  // Starts the player with the recording in the input field, on its own.
  void PlayRecording();
  // Every way out (Close, Enter, Escape, the title bar) ends here: a running conversion is
  // cancelled and waited for, and whatever it holds is released.
  void done(int result) override;

 signals:
  // A conversion has ended with "File saved!"; its file is complete.
  void conversionFinished();
  // The progress display has been refreshed during a frame loop.
  void progressShown(uint32_t done, uint32_t total);
  // A recovery has ended: every recording found was converted, or it was cancelled or stopped.
  void recoveryFinished();

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
  void ShowContextMenu(QWidget* owner, const QPoint& position);
  void ConvertAsItIs();
  bool ConvertDamaged();
  void StartScan(bool askFirst, const QString& failure);
  void OnScanDone();
  void ConvertNextFound();
  void EndRecovery();
  void StartFrameLoop();
  void OnFrameLoopDone();
  void UpdateProgress();
  void ResetProgress();
  bool AskBeforeReplacing(const QString& input, const QString& output, bool* overwrite);
  void MakeJob(bool overwrite, const FoundRecording* found = nullptr);
  void PostReason(const std::string& reason);
  void AddJobLine(const QString& text);
  void AddReason(const QString& text);
  void FlushReasons();
  bool busy() const { return worker_ != nullptr || settingUp_ || scanner_ != nullptr || recovering_; }
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
  QAction* playEntry_ = nullptr;
  PlayerLookup playerLookup_;
  Player player_;
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

  // A search for recordings, and the recovery that converts what it found. The jobs read the
  // found recordings, so the result outlives them.
  std::unique_ptr<ScanWorker> scanner_;
  bool askAfterScan_ = false;  // the plain open failed: the question waits for what the search finds
  QString openFailure_;
  std::unique_ptr<ScanResult> found_;
  size_t nextFound_ = 0;
  size_t recordingsConverted_ = 0;
  bool recovering_ = false;
  // The compressor chosen for the first recording found serves the others.
  std::optional<std::optional<avi::CompressOptions>> recoveryCompressor_;
};

}  // namespace zentrova::app
