#pragma once
// The main window: the recording and the file to save it as, each with Browse, Convert, the
// compressor hint, the log of every message, Close and About. It drives one ConversionJob: the
// set-up on the window's thread, the frame loop on a ConversionWorker, and the job's last lines
// back on the window's thread.
//
// Around those controls: a recording can come from Browse, from the command line ("open with")
// or be dropped on the window, and each fills the two names the same way and shows the
// recording's facts under its name; several dropped recordings are converted one after another
// into the output's folder, the log saying how each ended. Browse opens in the folder of the name
// in the input field, else in a remembered one; the log's context menu copies lines; the bottom
// row shows the progress of a running conversion with the time left, and after a success offers
// to open the folder or play the file. The reasons the job gives for a failure go into the log,
// each on the line after the job's own line (the job may report a reason just before or just
// after that line). The window is laid out by Qt layouts and may be resized; the log takes the
// room. Enter converts; Escape and the window's close button ask first while a conversion runs.
//
// A damaged recording (frames its block chain does not reach, or no readable header while a
// search finds frames) brings a question first; recovering it searches the file on a ScanWorker
// and converts each recording found, one job after another, into numbered outputs.
#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/Player.h"
#include "app/RememberedFolders.h"
#include "avi/Compressor.h"
#include "convert/ConversionJob.h"
#include "convert/FrameWindow.h"

class QAction;
class QBoxLayout;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QWidget;

namespace zentrova {
class ReportRecorder;
struct FoundRecording;
struct ScanResult;
}

namespace zentrova::app {

class ConversionWorker;
class Prompts;
class ScanWorker;
class TimeWindowFields;

class ConversionDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ConversionDialog(Prompts& prompts, QWidget* parent = nullptr);
  ~ConversionDialog() override;

  // Appends one line to the log and scrolls so that the last lines show.
  void AddLogLine(const QString& text);

  // Puts names into the two fields, as typing them would.
  void SetNames(const QString& input, const QString& output);

  // A recording chosen by any means (Browse, the command line, a drop): its full path goes into
  // the input field and, when its name ends in "zr" or "zrx" (any case), the derived name into
  // the output field, keeping the output's type; the recording's facts show under its name; its
  // folder is remembered and the progress of an earlier job is cleared. Refused (false) while a
  // conversion holds the job.
  bool OpenRecording(const QString& path);

  // Several recordings: each converted in turn into the folder of the output field (or its own
  // folder when the field is empty), named after it. Refused (false) while a conversion runs.
  bool QueueRecordings(const QStringList& paths);

  // True from a started conversion until its last line.
  bool conversionRunning() const { return worker_ != nullptr; }
  // True from Convert until nothing more will be done: a search for recordings, a recovery's
  // conversions, a queue and the time between them included.
  bool working() const { return busy(); }

  // How Play finds its player (FindPlayer unless replaced), asked each time a context menu opens.
  void SetPlayerLookup(PlayerLookup lookup);
  // Enables Play, or disables it with a tooltip saying why, for the recording in the input field.
  void RefreshPlayEntry();

 public slots:
  void Browse();
  void BrowseOutput();
  void Convert();
  // Ends the running frame loop after the frame in hand; the file keeps the frames so far.
  void CancelConversion();
  void About();
  // The log's selected lines, or all of them, to the clipboard, one line each.
  void CopyLogSelection();
  void CopyWholeLog();
  // Starts the player with the recording in the input field, on its own.
  void PlayRecording();
  // After a success: the output's folder in the file manager, the output in the player.
  void OpenOutputFolder();
  void PlayOutput();
  // Escape, Close and the title bar: while a conversion runs, only after the user agrees.
  void reject() override;
  // Every way out ends here: a running conversion is cancelled and waited for, and whatever it
  // holds is released; the window's geometry is remembered.
  void done(int result) override;

 signals:
  // A conversion has ended with its last line; its file is complete.
  void conversionFinished();
  // The progress display has been refreshed during a frame loop.
  void progressShown(uint32_t done, uint32_t total);
  // A recovery has ended: every recording found was converted, or it was cancelled or stopped.
  void recoveryFinished();
  // A queue has ended: every recording in it was converted, or it was cancelled.
  void queueFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // ConversionDialogLayout.cpp: the controls and where they sit.
  void CreateControls();
  void CreateMenus();
  void PlaceWindow();
  void FocusFirstEmptyField();
  void SetJobControls(bool running);
  void ShowContextMenu(QWidget* owner, const QPoint& position);
  void ShowFacts(const QString& path);

  // ConversionDialogRunner.cpp: a started job, a search and a recovery, the progress display.
  void ConvertAsItIs();
  bool ConvertDamaged();
  void StartScan(bool askFirst, const QString& failure);
  void OnScanDone();
  void ConvertNextFound();
  void EndRecovery();
  // Sets the job up to convert the recording in hand into `output`, with the controls of a running
  // job and the job's lines logged: the report of a set-up that failed is written, that of one the
  // user cancelled dropped (it converted nothing).
  ConversionJob::Setup SetUpJob(const QString& output, const CompressorChooser& choose);
  void StartFrameLoop();
  void OnFrameLoopDone();
  void OfferPartial(const QString& partial);
  void UpdateProgress();
  void ResetProgress();
  void MarkBarShort(const QString& why);
  void ConvertNextQueued();
  void EndQueue();
  // "[2/5] cam2.zr" for the recording of the queue in hand.
  QString QueueItemName() const;

  // ConversionDialogLog.cpp: the log and the lines posted from the job.
  void ScrollLogToEnd();
  void PostReason(const std::string& reason);
  void AddJobLine(const QString& text);
  void AddReason(const QString& text);
  void FlushReasons();
  void PostLogLine(const std::string& line);
  void PostFileError(const std::string& message);

  // ConversionDialogReport.cpp: with "Save a report" checked, NAME.report.json and .txt beside
  // each output, as convert --report writes them. BeginReport starts the report of the job about
  // to convert into `output`; false (the log says why) when an earlier report stands there that
  // may not be replaced, and the job should not start.
  bool BeginReport(const QString& output, const FoundRecording* found, bool overwrite);
  // The compressor the user chose, noted in the report; returned as it is.
  std::optional<avi::CompressOptions> NoteCompressor(std::optional<avi::CompressOptions> chosen);
  // Writes the report of the job in hand with its status, and the pauses of the recorder from
  // the recording's clock when `withGaps`, on a thread of its own (the output is read whole for
  // its digest), and logs where it went; or drops it (a set-up the user cancelled converted
  // nothing).
  void FinishReport(int status, bool withGaps = false);
  void DropReport();
  void JoinReportThread(std::thread::id id);

  bool AskBeforeReplacing(const QString& input, const QString& output, bool* overwrite);
  // A fresh job for writing `output` (its container from its name).
  void MakeJob(bool overwrite, const QString& output, const FoundRecording* found = nullptr);
  bool busy() const {
    return worker_ != nullptr || settingUp_ || scanner_ != nullptr || recovering_ || queueTotal_ > 0;
  }
  void ReleaseJob();

  Prompts& prompts_;

  QListWidget* log_ = nullptr;
  QLabel* hint_ = nullptr;
  QLabel* inputLabel_ = nullptr;
  QLabel* outputLabel_ = nullptr;
  QLabel* facts_ = nullptr;
  QLineEdit* inputField_ = nullptr;
  QLineEdit* outputField_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* browseOutput_ = nullptr;
  QPushButton* convert_ = nullptr;
  QPushButton* close_ = nullptr;
  QPushButton* about_ = nullptr;
  QPushButton* openFolder_ = nullptr;
  QPushButton* playOutput_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  // Room for options of a conversion (a time window, a report) between the hint and the log.
  QWidget* settingsArea_ = nullptr;
  QCheckBox* saveReport_ = nullptr;
  TimeWindowFields* timeWindow_ = nullptr;  // "only part": from and to
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
  QString currentOutput_;  // the file the job in hand writes
  QString savedOutput_;    // the file the last successful conversion wrote
  bool preferZrx_ = false;
  bool placed_ = false;
  bool settingUp_ = false;
  bool endPending_ = false;
  int pendingResult_ = 0;
  uint32_t frameTotal_ = 0;
  // The part of the recording the conversion in hand writes, when "only part" is checked.
  std::optional<FrameWindow> window_;

  std::unique_ptr<ConversionJob> job_;
  std::unique_ptr<ConversionWorker> worker_;
  // The report of the job in hand, while "Save a report" was checked when it began.
  std::unique_ptr<ReportRecorder> report_;
  // Reports being finished; the window waits for them before it goes.
  std::list<std::thread> reportThreads_;

  // A search for recordings, and the recovery that converts what it found. The jobs read the
  // found recordings, so the result outlives them.
  std::unique_ptr<ScanWorker> scanner_;
  bool askAfterScan_ = false;  // the plain open failed: the question waits for what the search finds
  QString openFailure_;
  std::unique_ptr<ScanResult> found_;
  size_t nextFound_ = 0;
  bool recovering_ = false;
  // The compressor chosen for the first recording found serves the others.
  std::optional<std::optional<avi::CompressOptions>> recoveryCompressor_;

  // Recordings waiting to be converted, the folder they go to, and how many there were (0: no
  // queue is running).
  QStringList queue_;
  QString queueFolder_;
  int queueTotal_ = 0;
  std::optional<std::optional<avi::CompressOptions>> queueCompressor_;
};

}  // namespace zentrova::app
