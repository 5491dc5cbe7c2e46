// The main window's layout, log, Browse, keys and About box, the compressor dialog, and the
// conveniences around them: open with, drops, remembered folders, copying the log, the replace
// question, the progress text and the program's command line.
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/AboutDialog.h"
#include "app/BrowseRules.h"
#include "app/CommandLine.h"
#include "app/CompressorDialog.h"
#include "app/ConversionDialog.h"
#include "app/Player.h"
#include "app/ProgressText.h"
#include "app/QtPrompts.h"
#include "app/RememberedFolders.h"
#include "app/WindowPlacement.h"

using namespace zentrova;
using namespace zentrova::app;
using namespace zentrova::app::testing;

namespace {

template <typename T>
T* Child(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromLatin1(name));
  if (!child) qWarning("no child %s", name);
  return child;
}

QString TouchFile(const QTemporaryDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  return path;
}


// Drags `mime` over the dialog and drops it there; true when the dialog took the drop.
bool DropOn(ConversionDialog& dialog, QMimeData* mime) {
  const QPointF at(200, 150);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &drop);
  return drop.isAccepted();
}

QMimeData* FilesMime(const QStringList& paths) {
  auto* mime = new QMimeData;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  mime->setUrls(urls);
  return mime;
}

QStringList ActionTexts(const QList<QAction*>& actions) {
  QStringList texts;
  for (QAction* action : actions) texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
  return texts;
}

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

  SettingsSandbox settings_;

 private slots:
  void init() { settings_.Clear(); }

  void theWindowResizesAndTheLogTakesTheRoomItGains() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Zentrova"));
    QCOMPARE(dialog.size(), kClientSize);
    QVERIFY(dialog.maximumSize().width() > 10000);
    QCOMPARE(Child<QLabel>(dialog, "inputLabel")->text(), QStringLiteral("&Recording:"));
    QCOMPARE(Child<QLabel>(dialog, "outputLabel")->text(), QStringLiteral("&Save as:"));
    // The hint names the compressors on offer, not ones of another platform.
    const QString hint = Child<QLabel>(dialog, "hint")->text();
    QVERIFY2(hint.contains(QStringLiteral("mpeg4")) && !hint.contains(QStringLiteral("Indeo")), qPrintable(hint));
    QVERIFY(Child<QPushButton>(dialog, "convert")->isDefault());
    QVERIFY(Child<QWidget>(dialog, "settings"));
    for (const char* hidden : {"progress", "cancel", "openFolder", "playOutput", "facts"})
      QVERIFY2(!Child<QWidget>(dialog, hidden)->isVisible(), hidden);

    QListWidget* log = Child<QListWidget>(dialog, "log");
    QLineEdit* input = Child<QLineEdit>(dialog, "inputName");
    const QSize logBefore = log->size();
    const int inputBefore = input->width();
    dialog.resize(dialog.size() + QSize(200, 150));
    QTRY_VERIFY(log->height() >= logBefore.height() + 150);  // the wrapped hint may need fewer lines too
    QCOMPARE(log->width(), logBefore.width() + 200);
    QCOMPARE(input->width(), inputBefore + 200);
  }

  void programIconIs32By32WithoutAlpha() {
    const QImage icon(QStringLiteral(":/zentrova/zentrova.png"));
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(!icon.hasAlphaChannel());
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QVERIFY(dialog.windowIcon().availableSizes().contains(QSize(32, 32)));
  }

  void windowSitsCentredWithItsMiddleAtTwoFifthsOfTheScreenUntilItIsMoved() {
    // A 1024 x 768 screen and a frame that adds 6 x 25 pixels.
    QCOMPARE(PlaceMainWindow({1024, 768}, {6, 25}), QRect(189, 65, 646, 485));
    QCOMPARE(PlaceMainWindow({800, 600}, {0, 0}), QRect(80, 10, 640, 460));

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect screen = dialog.screen()->geometry();
    const QRect frame = dialog.frameGeometry();
    const QRect expected = PlaceMainWindow(screen.size(), frame.size() - dialog.size());
    QCOMPARE(frame.topLeft(), screen.topLeft() + expected.topLeft());
    // The size the user gives it comes back the next time.
    dialog.resize(700, 520);
    dialog.close();
    ConversionDialog again(prompts);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.size(), QSize(700, 520));
  }

  void logKeepsEveryLineWholeAndShowsTheLast() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget* log = Child<QListWidget>(dialog, "log");
    for (int i = 1; i <= 60; ++i) dialog.AddLogLine(QStringLiteral("line %1").arg(i));
    QCOMPARE(log->count(), 60);
    QCOMPARE(log->item(0)->text(), QStringLiteral("line 1"));
    QVERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(59))));
    QVERIFY(!log->viewport()->rect().contains(log->visualItemRect(log->item(0))));
    // A reason longer than the window is kept whole and shows whole as its tooltip.
    const QString reason = QStringLiteral("cam.zr: frame 1 and 25 more could not be decoded as recorded ").repeated(4);
    dialog.AddLogLine(reason);
    QCOMPARE(log->item(60)->text(), reason);
    QCOMPARE(log->item(60)->toolTip(), reason);
  }

  void browseDerivesTheOutputNameInAnyCaseAndOffersOneFilter() {
    QTemporaryDir dir;
    const QString zrx = TouchFile(dir, "cam1.zrx");
    const QString upper = TouchFile(dir, "CAM2.ZR");
    const QString bare = TouchFile(dir, "clipzr");
    const QString other = TouchFile(dir, "notes.txt");

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QLineEdit* input = Child<QLineEdit>(dialog, "inputName");
    QLineEdit* output = Child<QLineEdit>(dialog, "outputName");

    prompts.recordingAnswers = {zrx, upper, bare, other, QString()};
    dialog.Browse();
    const QStringList filters = prompts.browseCalls.back().filters;
    QCOMPARE(filters.size(), 2);
    for (const char* pattern : {"*.zr ", "*.ZR ", "*.zrx", "*.ZRX", "*.Zr"})
      QVERIFY2(filters[0].contains(QLatin1String(pattern)), qPrintable(filters[0]));
    QCOMPARE(filters[1], QStringLiteral("All files (*)"));
    QCOMPARE(input->text(), zrx);
    QCOMPARE(output->text(), dir.filePath("cam1.avi"));

    output->setText(dir.filePath("cam1.mkv"));
    dialog.Browse();  // upper-case endings derive too, and the output keeps its type
    QCOMPARE(input->text(), upper);
    QCOMPARE(output->text(), dir.filePath("CAM2.mkv"));

    output->setText(dir.filePath("x.avi"));
    dialog.Browse();  // no dot needed before the two letters
    QCOMPARE(output->text(), dir.filePath("clipavi"));

    dialog.Browse();  // another file: the output stands
    QCOMPARE(input->text(), other);
    QCOMPARE(output->text(), dir.filePath("clipavi"));

    dialog.Browse();  // a cancel changes nothing
    QCOMPARE(input->text(), other);
    QCOMPARE(prompts.browseCalls.size(), size_t{5});
  }

  void recordingFileDialogAcceptsOnlyExistingFilesAndTheOutputDialogOffersThreeTypes() {
    auto dialog = MakeRecordingFileDialog(nullptr, BrowseRequestFor(true));
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->nameFilters().size(), 2);
    QVERIFY(dialog->selectedNameFilter().startsWith(QStringLiteral("Recordings (")));

    auto save = MakeOutputFileDialog(nullptr, QStringLiteral("/tmp/cam1.mp4"));
    QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(save->nameFilters(), QStringList({"AVI files (*.avi)", "Matroska files (*.mkv)", "MP4 files (*.mp4)"}));
    QCOMPARE(save->selectedNameFilter(), QStringLiteral("MP4 files (*.mp4)"));
    QCOMPARE(save->defaultSuffix(), QStringLiteral("mp4"));
  }

  void keyboardEnterConvertsEscapeClosesWhenIdleAndCtrlOBrowses() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QLineEdit* input = Child<QLineEdit>(dialog, "inputName");
    QLineEdit* output = Child<QLineEdit>(dialog, "outputName");
    QTRY_COMPARE(QApplication::focusWidget(), input);  // the first empty field

    // Enter in a name field is Convert: the name checks answer, and the window stays.
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(Child<QListWidget>(dialog, "log")->item(0)->text(), QStringLiteral("Please input the ZR file name!"));

    QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);  // the label's mnemonic
    QCOMPARE(QApplication::focusWidget(), output);
    QTest::keyClick(&dialog, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(prompts.browseCalls.size(), size_t{1});
    prompts.outputAnswers = {QStringLiteral("/tmp/chosen.mkv")};
    QTest::mouseClick(Child<QPushButton>(dialog, "browseOutput"), Qt::LeftButton);
    QCOMPARE(output->text(), QStringLiteral("/tmp/chosen.mkv"));

    // Nothing runs: Escape ends the program without a question.
    QTest::keyClick(Child<QListWidget>(dialog, "log"), Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(prompts.stopQuestions, 0);
  }

  void aboutBoxOpensFromTheButtonAndTheContextMenuEntry() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QAction* entry = nullptr;
    for (QAction* action : dialog.actions())
      if (action->text() == QStringLiteral("&About Zentrova...")) entry = action;
    QVERIFY(entry);
    QCOMPARE(dialog.contextMenuPolicy(), Qt::CustomContextMenu);

    QStringList seen;
    auto answer = [&seen](QWidget* modal) {
      auto* about = qobject_cast<AboutDialog*>(modal);
      if (!about) {
        modal->close();
        return;
      }
      seen << about->windowTitle() << about->findChild<QLabel*>("version")->text();
      QVERIFY(!about->findChild<QLabel*>("line")->text().isEmpty());
      QVERIFY(about->findChild<QLabel*>("licence")->text().contains(QStringLiteral("copyright")));
      QVERIFY(about->findChild<QLabel*>("address")->text().contains(QLatin1Char('@')));
      QVERIFY(about->findChild<QLabel*>("libraries")->text().contains(QStringLiteral("Qt ")));
      QVERIFY(!about->findChild<QLabel*>("icon")->pixmap().isNull());
      QTest::mouseClick(about->findChild<QPushButton*>("ok"), Qt::LeftButton);
    };
    AnswerNextModal(answer);
    QTest::mouseClick(Child<QPushButton>(dialog, "about"), Qt::LeftButton);
    AnswerNextModal(answer);
    entry->trigger();

    // The version is the command line's.
    QCOMPARE(seen, QStringList({"About Zentrova", "Zentrova 1.0.0", "About Zentrova", "Zentrova 1.0.0"}));
    QVERIFY(dialog.isVisible());
    QCOMPARE(Child<QListWidget>(dialog, "log")->count(), 0);
  }

  void compressorDialogListsTheRegistryAndStartsFromTheDefault() {
    std::vector<avi::CompressorInfo> registry = {
        {"raw", "Full Frames (Uncompressed)", true},
        {"mpeg4", "MPEG-4", true},
        {"h264", "H.264", false},
    };
    CompressorDialog dialog(registry);
    auto* list = dialog.findChild<QListWidget*>("compressors");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QStringLiteral("Full Frames (Uncompressed)"));
    QCOMPARE(dialog.options().codec, std::string("mpeg4"));
    QCOMPARE(dialog.options().quality, 90);

    QVERIFY(!dialog.selectCodec("h264"));  // not available here
    QVERIFY(dialog.selectCodec("raw"));
    dialog.setQuality(40);
    QCOMPARE(dialog.options().codec, std::string("raw"));
    QCOMPARE(dialog.options().quality, 40);
  }
  void openWithFillsBothNamesFromTheCommandLine() {
    QTemporaryDir dir;
    const QString zrx = TouchFile(dir, "cam1.zrx");

    // What the program is given: one file, or --help, or a mistake.
    GuiCommandLine line = ParseGuiCommandLine({zrx});
    QCOMPARE(line.action, GuiCommandLine::Action::Run);
    QCOMPARE(line.recording, zrx);
    QCOMPARE(ParseGuiCommandLine({}).recording, QString());
    const QString here = QDir::current().absoluteFilePath(QStringLiteral("cam2.zr"));
    QCOMPARE(ParseGuiCommandLine({"cam2.zr"}).recording, here);  // a file manager may give a relative name
    QCOMPARE(ParseGuiCommandLine({"--", "-odd.zr"}).recording, QDir::current().absoluteFilePath("-odd.zr"));
    QCOMPARE(ParseGuiCommandLine({zrx, "--help"}).action, GuiCommandLine::Action::Help);
    QCOMPARE(ParseGuiCommandLine({"-h"}).action, GuiCommandLine::Action::Help);
    QCOMPARE(ParseGuiCommandLine({"--version"}).action, GuiCommandLine::Action::Version);
    QCOMPARE(ParseGuiCommandLine({"--frobnicate"}).action, GuiCommandLine::Action::Error);
    QCOMPARE(ParseGuiCommandLine({zrx, zrx}).action, GuiCommandLine::Action::Error);
    QVERIFY(GuiHelpText().contains(QStringLiteral("[FILE]")));

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QVERIFY(dialog.OpenRecording(line.recording));
    QCOMPARE(Child<QLineEdit>(dialog, "inputName")->text(), zrx);
    QCOMPARE(Child<QLineEdit>(dialog, "outputName")->text(), dir.filePath("cam1.avi"));
    // The preference follows, as after Browse: a name typed without an ending gets .zrx.
    dialog.Browse();
    QCOMPARE(prompts.browseCalls.back().defaultSuffix, QStringLiteral("zrx"));
    QCOMPARE(RememberedFolders().recordingFolder(), dir.path());
  }

  void aRecordingDroppedOnTheWindowFillsBothNames() {
    QTemporaryDir dir;
    const QString zr = TouchFile(dir, "drop.zr");
    const QString upper = TouchFile(dir, "DROP.ZR");
    QDir(dir.path()).mkdir(QStringLiteral("folder.zr"));

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.acceptDrops());
    QLineEdit* input = Child<QLineEdit>(dialog, "inputName");
    QLineEdit* output = Child<QLineEdit>(dialog, "outputName");
    // The fields pass a dropped file on to the window instead of pasting its URL as text.
    QVERIFY(!input->acceptDrops());
    QVERIFY(!output->acceptDrops());

    std::unique_ptr<QMimeData> one(FilesMime({zr}));
    QVERIFY(DropOn(dialog, one.get()));
    QCOMPARE(input->text(), zr);
    QCOMPARE(output->text(), dir.filePath("drop.avi"));
    QCOMPARE(RememberedFolders().recordingFolder(), dir.path());

    std::unique_ptr<QMimeData> upperCase(FilesMime({upper}));
    QVERIFY(DropOn(dialog, upperCase.get()));  // an ending in any case derives, as with Browse
    QCOMPARE(input->text(), upper);
    QCOMPARE(output->text(), dir.filePath("DROP.avi"));

    // Refused, leaving the names alone: a folder, a file that is not there, a web address, plain
    // text. (Several files make a queue.)
    std::unique_ptr<QMimeData> folder(FilesMime({dir.filePath("folder.zr")}));
    std::unique_ptr<QMimeData> missing(FilesMime({dir.filePath("gone.zr")}));
    auto web = std::make_unique<QMimeData>();
    web->setUrls({QUrl(QStringLiteral("https://example.org/cam.zr"))});
    auto text = std::make_unique<QMimeData>();
    text->setText(zr);
    for (QMimeData* refused : {folder.get(), missing.get(), web.get(), text.get()}) {
      QVERIFY(!DropOn(dialog, refused));
      QCOMPARE(input->text(), upper);
      QCOMPARE(output->text(), dir.filePath("DROP.avi"));
    }
    QVERIFY(Child<QListWidget>(dialog, "log")->count() == 0);
  }

  void browseOpensInTheFieldsFolderElseTheRememberedOnes() {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("cards/a"));
    QDir(dir.path()).mkpath(QStringLiteral("cards/b"));
    QDir(dir.path()).mkpath(QStringLiteral("videos"));
    const QString first = TouchFile(dir, "cards/a/cam1.zr");

    FakePrompts prompts;
    {
      ConversionDialog dialog(prompts);
      QLineEdit* input = Child<QLineEdit>(dialog, "inputName");
      dialog.Browse();  // nothing known yet: the file dialog's own choice
      QCOMPARE(prompts.browseCalls.back().startFolder, QString());

      prompts.recordingAnswers = {first};
      dialog.Browse();
      QCOMPARE(input->text(), first);
      dialog.Browse();  // the folder of the name in the field
      QCOMPARE(prompts.browseCalls.back().startFolder, dir.filePath("cards/a"));

      input->setText(dir.filePath("cards/b/typed-but-missing.zr"));
      dialog.Browse();  // the field's folder, even for a file that is not there yet
      QCOMPARE(prompts.browseCalls.back().startFolder, dir.filePath("cards/b"));

      for (const QString& typed : {QString(), QStringLiteral("bare.zr"), dir.filePath("no/such/folder/x.zr")}) {
        input->setText(typed);
        dialog.Browse();  // nothing usable in the field: the last recording's folder
        QCOMPARE(prompts.browseCalls.back().startFolder, dir.filePath("cards/a"));
      }
    }
    {
      // The next run remembers it.
      ConversionDialog dialog(prompts);
      dialog.Browse();
      QCOMPARE(prompts.browseCalls.back().startFolder, dir.filePath("cards/a"));
    }
    // The last output folder stands in when the recording's folder is gone (a card taken out).
    RememberedFolders folders;
    folders.RememberOutput(dir.filePath("videos/cam1.avi"));
    QCOMPARE(folders.outputFolder(), dir.filePath("videos"));
    QVERIFY(QDir(dir.filePath("cards/a")).removeRecursively());
    {
      ConversionDialog dialog(prompts);
      dialog.Browse();
      QCOMPARE(prompts.browseCalls.back().startFolder, dir.filePath("videos"));
    }
    // A file remembered in a folder that does not exist is not stored.
    folders.RememberRecording(dir.filePath("nowhere/cam.zr"));
    QCOMPARE(folders.recordingFolder(), dir.filePath("cards/a"));

    const BrowseRequest request{{"Video files(*.zr)"}, "zr", dir.filePath("videos")};
    QCOMPARE(MakeRecordingFileDialog(nullptr, request)->directory().absolutePath(), dir.filePath("videos"));
  }

  void logContextMenuCopiesTheSelectionOrEverything() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget* log = Child<QListWidget>(dialog, "log");
    QCOMPARE(log->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(ActionTexts(log->actions()), QStringList({"&Copy", "Copy &all", "-", "&Play", "&About Zentrova..."}));
    QCOMPARE(ActionTexts(dialog.actions()), QStringList({"&Play", "&About Zentrova..."}));
    QAction* copy = log->actions()[0];
    QAction* copyAll = log->actions()[1];

    for (int i = 1; i <= 20; ++i) dialog.AddLogLine(QStringLiteral("line %1").arg(i));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QVERIFY(!copy->isEnabled());  // nothing selected
    copy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    // Selected out of order, copied in the log's order.
    log->item(17)->setSelected(true);
    log->item(3)->setSelected(true);
    QVERIFY(copy->isEnabled());
    copy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("line 4\nline 18\n"));

    // Ctrl+C in the log does the same.
    log->clearSelection();
    log->item(0)->setSelected(true);
    log->setFocus();
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("line 1\n"));

    copyAll->trigger();
    QStringList all;
    for (int i = 1; i <= 20; ++i) all << QStringLiteral("line %1").arg(i);
    QCOMPARE(QGuiApplication::clipboard()->text(), all.join('\n') + '\n');
    QCOMPARE(log->count(), 20);  // copying takes nothing away
    QVERIFY(dialog.isVisible());
  }

  void playIsOfferedOnlyWithAPlayerAndARecording() {
    QTemporaryDir dir;
    const QString recording = dir.filePath("cam1.zr");
    QVERIFY(WriteRecording(recording, 3));
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    auto* play = dialog.findChild<QAction*>(QStringLiteral("playEntry"));
    QVERIFY(play);
    Player none;
    none.missing = QStringLiteral("No player is registered.");
    Player broken{QStringLiteral("/nonexistent/player"), {}, QStringLiteral("the test player"), {}};
    Player lookedUp = none;
    int lookups = 0;
    dialog.SetPlayerLookup([&] {
      ++lookups;
      return lookedUp;
    });
    QVERIFY(!play->isEnabled());
    QCOMPARE(play->toolTip(), none.missing);

    lookedUp = broken;
    dialog.RefreshPlayEntry();
    QVERIFY(!play->isEnabled());  // no recording chosen yet
    QVERIFY(play->toolTip().contains(QStringLiteral("choose one first")));

    QVERIFY(dialog.OpenRecording(recording));
    dialog.RefreshPlayEntry();
    QVERIFY(play->isEnabled());
    QCOMPARE(play->toolTip(), QStringLiteral("Plays cam1.zr with the test player."));
    QCOMPARE(lookups, 3);  // asked again each time, since players come and go

    play->trigger();  // a player that cannot start says so in the log
    QCOMPARE(dialog.findChild<QListWidget*>(QStringLiteral("log"))->item(0)->text(),
             QStringLiteral("the test player could not be started."));

    lookedUp = none;
    dialog.RefreshPlayEntry();
    QVERIFY(!play->isEnabled());
  }

  void recoverQuestionNamesTheDamageAndDefaultsToYes() {
    auto box = MakeRecoverQuestion(nullptr, QStringLiteral("cam1.zr is damaged: it holds 20 more frames."));
    QCOMPARE(box->windowTitle(), QStringLiteral("Zentrova"));
    QCOMPARE(box->text(), QStringLiteral("cam1.zr is damaged: it holds 20 more frames. Recover it?"));
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));

    QtPrompts real;
    AnswerNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QVERIFY(!real.ConfirmRecover(nullptr, QStringLiteral("x")));
    AnswerNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    QVERIFY(real.ConfirmRecover(nullptr, QStringLiteral("x")));
  }

  void replaceQuestionDefaultsToCancel() {
    auto box = MakeReplaceQuestion(nullptr, QStringLiteral("/videos/cam1.avi"));
    QCOMPARE(box->windowTitle(), QStringLiteral("Zentrova"));
    QCOMPARE(box->text(), QStringLiteral("cam1.avi already exists. Replace it?"));
    QCOMPARE(box->buttonRole(box->defaultButton()), QMessageBox::RejectRole);

    QtPrompts real;
    AnswerNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QVERIFY(!real.ConfirmReplace(nullptr, QStringLiteral("/videos/cam1.avi")));
    AnswerNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    QVERIFY(!real.ConfirmReplace(nullptr, QStringLiteral("/videos/cam1.avi")));  // Enter takes the default
    AnswerNextModal([](QWidget* modal) {
      QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("replace")), Qt::LeftButton);
    });
    QVERIFY(real.ConfirmReplace(nullptr, QStringLiteral("/videos/cam1.avi")));
  }

  void progressTextGivesPercentAndTimeLeft() {
    QCOMPARE(ProgressText(0, 200, 0), QStringLiteral("0%"));
    QCOMPARE(ProgressText(0, 200, 5000), QStringLiteral("0%"));     // no pace yet
    QCOMPARE(ProgressText(10, 200, 100), QStringLiteral("5%"));     // too early to tell
    QCOMPARE(ProgressText(50, 200, 10000), QStringLiteral("25% - 0:30 left"));
    QCOMPARE(ProgressText(199, 200, 199000), QStringLiteral("99% - 0:01 left"));
    QCOMPARE(ProgressText(1, 100000, 1000), QStringLiteral("0% - 27:46:39 left"));
    QCOMPARE(ProgressText(100, 7300, 1000), QStringLiteral("1% - 1:12 left"));
    QCOMPARE(ProgressText(200, 200, 9000), QStringLiteral("100%"));
    QCOMPARE(ProgressText(5, 0, 9000), QStringLiteral("0%"));  // a recording that declares no frames
    QCOMPARE(PercentDone(4294967295u, 4294967295u), 100);
    QCOMPARE(PercentDone(4294967294u, 4294967295u), 99);
    QCOMPARE(PercentDone(7, 3), 100);
  }
};

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
