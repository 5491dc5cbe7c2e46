// Whole conversions driven through the main window: the log order, the name checks and the
// reasons under them, the replace question, the compressor question cancelled, a conversion
// cancelled or cut short by closing the window, the progress bar from job to job.
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/CompressorDialog.h"
#include "app/ConversionDialog.h"
#include "app/QtPrompts.h"
#include "app/RememberedFolders.h"

using namespace zentrova;
using namespace zentrova::app;
using namespace zentrova::app::testing;

namespace {

constexpr int kWaitMs = 60000;

template <typename T>
T* Child(QWidget& parent, const char* name) {
  return parent.findChild<T*>(QString::fromLatin1(name));
}

QStringList LogLines(ConversionDialog& dialog) {
  QStringList lines;
  QListWidget* log = Child<QListWidget>(dialog, "log");
  for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
  return lines;
}

void Press(ConversionDialog& dialog, const char* button) {
  QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
}

QString Sha256Of(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  return QString::fromLatin1(hash.result().toHex());
}

QString ReadText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool RawAvailable() {
  for (const avi::CompressorInfo& c : avi::ListCompressors())
    if (c.name == "raw" && c.available) return true;
  return false;
}

}  // namespace

class ConversionTest : public QObject {
  Q_OBJECT

  SettingsSandbox settings_;

 private slots:
  void init() {
    if (!RawAvailable()) QSKIP("this build has no uncompressed AVI output");
  }

  void wholeConversionLogsSavingThenSavedAndWritesEveryFrame() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zr");
    const QString output = dir.filePath("cam1.avi");
    QVERIFY(WriteRecording(input, 40));

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);

    for (int round = 1; round <= 2; ++round) {
      dialog.SetNames(input, output);
      Press(dialog, "convert");
      QVERIFY(dialog.conversionRunning());
      QVERIFY(!Child<QPushButton>(dialog, "convert")->isEnabled());
      QVERIFY(!Child<QPushButton>(dialog, "browse")->isEnabled());
      QVERIFY(Child<QPushButton>(dialog, "cancel")->isVisible());
      dialog.Convert();  // refused while the loop runs
      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), round, kWaitMs);

      QStringList expected;
      for (int i = 0; i < round; ++i) expected << "Saving the AVI file! Please waiting..." << "File saved!";
      QCOMPARE(LogLines(dialog), expected);
      QVERIFY(Child<QPushButton>(dialog, "convert")->isEnabled());
      QVERIFY(Child<QPushButton>(dialog, "browse")->isEnabled());
      QVERIFY(!Child<QPushButton>(dialog, "cancel")->isVisible());
      QCOMPARE(Child<QProgressBar>(dialog, "progress")->value(), 40);
      QCOMPARE(prompts.compressorQuestions, round);
      if (HaveFfprobe()) QCOMPARE(VideoFramesOf(output), 40);
    }
    QVERIFY(prompts.fileErrors.isEmpty());
  }

  void eachFailedCheckLogsItsLineThenTheReason() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zr");
    QVERIFY(WriteRecording(input, 3));
    QFile garbage(dir.filePath("garbage.zr"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    struct Case {
      QString input, output, line;
      QString reason;  // a part of the line under it; empty: the line stands alone
    };
    const Case cases[] = {
        {"", "out.avi", "Please input the ZR file name!", ""},
        {input, "", "Please input the AVI file name!", ""},
        {input, dir.filePath("out.avi.txt"), "Please check the AVI file name(*.avi)!", ""},
        {dir.filePath("missing.zr"), dir.filePath("out.avi"), "File open failed!", "missing.zr"},
        {garbage.fileName(), dir.filePath("out.avi"), "File open failed!", "garbage.zr"},
        {input, dir.filePath("no-such-folder/out.avi"), "File open failed!", "No such file or directory"},
    };
    for (const Case& c : cases) {
      const int before = LogLines(dialog).size();
      dialog.SetNames(c.input, c.output);
      dialog.Convert();
      QTRY_VERIFY_WITH_TIMEOUT(!dialog.working(), kWaitMs);  // a file that does not open is searched first
      const QStringList added = LogLines(dialog).mid(before);
      QVERIFY2(!added.isEmpty(), qPrintable(c.line));
      QCOMPARE(added.first(), c.line);
      if (c.reason.isEmpty()) {
        QCOMPARE(added.size(), 1);
        continue;
      }
      QCOMPARE(added.size(), 2);
      QVERIFY2(added[1].contains(c.reason), qPrintable(added[1]));
    }
    QVERIFY(prompts.replaceQuestions.isEmpty());
    QCOMPARE(prompts.compressorQuestions, 0);
    QVERIFY(!QFileInfo::exists(dir.filePath("out.avi")));
  }

  void cancellingTheCompressorDialogLogsNothingAndRedisplaysTheNames() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zrx");
    const QString output = dir.filePath("cam1.avi");
    QVERIFY(WriteRecording(input, 5));

    FakePrompts prompts;
    QtPrompts real;
    prompts.compressorQuestion = [&real](QWidget* parent) { return real.ChooseCompressor(parent); };
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.SetNames(input, output);

    bool sawCompressorDialog = false;
    AnswerNextModal([&sawCompressorDialog](QWidget* modal) {
      sawCompressorDialog = qobject_cast<CompressorDialog*>(modal) != nullptr;
      QTest::keyClick(modal, Qt::Key_Escape);
    });
    Press(dialog, "convert");
    QVERIFY(sawCompressorDialog);
    QVERIFY(LogLines(dialog).isEmpty());
    QVERIFY(!dialog.conversionRunning());
    QCOMPARE(Child<QLineEdit>(dialog, "inputName")->text(), input);
    QCOMPARE(Child<QLineEdit>(dialog, "outputName")->text(), output);
    QVERIFY(Child<QPushButton>(dialog, "convert")->isEnabled());

    // The next Convert works normally.
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
    AnswerNextModal([](QWidget* modal) {
      auto* compressors = qobject_cast<CompressorDialog*>(modal);
      QVERIFY(compressors);
      QVERIFY(compressors->selectCodec("raw"));
      compressors->accept();
    });
    Press(dialog, "convert");
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QCOMPARE(LogLines(dialog), QStringList({"Saving the AVI file! Please waiting...", "File saved!"}));
  }

  void cancelledConversionKeepsTheFramesSoFarInAValidFile() {
    QTemporaryDir dir;
    const QString input = dir.filePath("long.zr");
    const QString output = dir.filePath("long.avi");
    constexpr int kFrames = 20000;
    QVERIFY(WriteRecording(input, kFrames));

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
    dialog.SetNames(input, output);
    Press(dialog, "convert");
    QVERIFY(dialog.conversionRunning());
    QProgressBar* progress = Child<QProgressBar>(dialog, "progress");
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, kWaitMs);
    Press(dialog, "cancel");
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);

    // The log ends with the cancel, never with "File saved!"; the bar says it ended short.
    const QStringList lines = LogLines(dialog);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Saving the AVI file! Please waiting..."));
    QVERIFY(progress->property("endedShort").toBool());
    QVERIFY(progress->format().startsWith(QStringLiteral("Cancelled at ")));
    QVERIFY(!Child<QPushButton>(dialog, "openFolder")->isVisible());
    const QRegularExpression cancelled(QStringLiteral("^Conversion cancelled: (\\d+) of 20000 frames saved\\.$"));
    const QRegularExpressionMatch match = cancelled.match(lines[1]);
    QVERIFY2(match.hasMatch(), qPrintable(lines[1]));
    const int saved = match.captured(1).toInt();
    qInfo("%s", qPrintable(lines[1]));
    QVERIFY(saved > 0 && saved < kFrames);
    QCOMPARE(progress->value(), saved);
    if (!HaveFfprobe()) QSKIP("ffprobe is not installed; the file was not read back");
    QCOMPARE(VideoFramesOf(output), saved);
  }

  void cancelAfterReplaceLeavesTheOldFileAndAsksAboutThePart() {
    QTemporaryDir dir;
    const QString input = dir.filePath("long.zr");
    const QString output = dir.filePath("long.avi");
    QVERIFY(WriteRecording(input, 20000));
    for (const bool keep : {true, false}) {
      QFile old(output);
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write("the complete file of yesterday");
      old.close();

      FakePrompts prompts;
      prompts.keepPartialAnswer = keep;
      ConversionDialog dialog(prompts);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
      dialog.SetNames(input, output);
      Press(dialog, "convert");
      QCOMPARE(prompts.replaceQuestions, QStringList{output});
      QTRY_VERIFY_WITH_TIMEOUT(Child<QProgressBar>(dialog, "progress")->value() > 0, kWaitMs);
      Press(dialog, "cancel");
      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);

      QFile after(output);
      QVERIFY(after.open(QIODevice::ReadOnly));
      QCOMPARE(after.readAll(), QByteArray("the complete file of yesterday"));
      const QString partial = dir.filePath("long.partial.avi");
      QCOMPARE(prompts.keepPartialQuestions, QStringList{partial});
      QCOMPARE(QFileInfo::exists(partial), keep);
      QVERIFY2(LogLines(dialog).join(QLatin1Char('\n')).contains(QStringLiteral("is as it was")), qPrintable(LogLines(dialog).join(QLatin1Char('\n'))));
      QVERIFY(!LogLines(dialog).contains(QStringLiteral("File saved!")));
      QFile::remove(partial);
    }
  }

  void escapeDuringAConversionAsksAndGoesOnWhenTheUserSaysSo() {
    QTemporaryDir dir;
    const QString input = dir.filePath("long.zr");
    QVERIFY(WriteRecording(input, 20000));
    FakePrompts prompts;
    prompts.stopAnswer = false;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.SetNames(input, dir.filePath("long.avi"));
    QTest::keyClick(Child<QLineEdit>(dialog, "outputName"), Qt::Key_Return);  // Enter converts
    QTRY_VERIFY_WITH_TIMEOUT(Child<QProgressBar>(dialog, "progress")->value() > 0, kWaitMs);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(prompts.stopQuestions, 1);
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.conversionRunning());
    prompts.stopAnswer = true;
    dialog.close();
    QCOMPARE(prompts.stopQuestions, 2);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.conversionRunning());
  }

  void severalRecordingsAreQueuedIntoTheOutputFolderEachWithItsStatus() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
    const QStringList recordings = {dir.filePath("a.zr"), dir.filePath("b.ZRX"), dir.filePath("broken.zr")};
    QVERIFY(WriteRecording(recordings[0], 5));
    QVERIFY(WriteRecording(recordings[1], 7));
    QFile broken(recordings[2]);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a recording");
    broken.close();

    FakePrompts prompts;
    prompts.compressorAnswer = avi::CompressOptions{"ffv1", 90};  // Matroska takes no raw pictures
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy done(&dialog, &ConversionDialog::queueFinished);
    dialog.SetNames(QString(), dir.filePath("out/anything.mkv"));
    QVERIFY(dialog.QueueRecordings(recordings));
    QVERIFY(!dialog.QueueRecordings(recordings));  // one queue at a time
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kWaitMs);

    const QStringList lines = LogLines(dialog);
    QVERIFY2(lines.contains(QStringLiteral("[1/3] a.zr: saved as a.mkv.")), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(lines.contains(QStringLiteral("[2/3] b.ZRX: saved as b.mkv.")), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(lines.contains(QStringLiteral("[3/3] broken.zr: failed.")), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(QFileInfo(dir.filePath("out/a.mkv")).size() > 0);
    QVERIFY(QFileInfo(dir.filePath("out/b.mkv")).size() > 0);
    QCOMPARE(prompts.compressorQuestions, 1);  // the first answer serves the queue
    QVERIFY(!dialog.working());
  }

  void closingDuringAConversionEndsItAndCompletesTheFile() {
    QTemporaryDir dir;
    const QString input = dir.filePath("long.zr");
    const QString output = dir.filePath("long.avi");
    QVERIFY(WriteRecording(input, 20000));

    FakePrompts prompts;
    {
      ConversionDialog dialog(prompts);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      dialog.SetNames(input, output);
      Press(dialog, "convert");
      QTRY_VERIFY_WITH_TIMEOUT(Child<QProgressBar>(dialog, "progress")->value() > 0, kWaitMs);
      Press(dialog, "close");
      QVERIFY(!dialog.isVisible());
      QVERIFY(!dialog.conversionRunning());
    }
    if (!HaveFfprobe()) QSKIP("ffprobe is not installed; the file was not read back");
    const int frames = VideoFramesOf(output);
    QVERIFY(frames > 0 && frames < 20000);
  }

  void fileErrorsShowInAMessageBoxNamedAfterTheApplication() {
    QtPrompts real;
    QString title, text;
    AnswerNextModal([&](QWidget* modal) {
      title = modal->windowTitle();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) text = box->text();
      modal->close();
    });
    real.ShowFileError(nullptr, QStringLiteral("cam1.zr: the file ends inside text1"));
    QCOMPARE(title, QStringLiteral("Zentrova"));
    QCOMPARE(text, QStringLiteral("cam1.zr: the file ends inside text1"));
  }

  void anExistingOutputIsReplacedOnlyWhenTheUserAgrees() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zr");
    const QString output = dir.filePath("cam1.avi");
    QVERIFY(WriteRecording(input, 10));
    {
      QFile keep(output);
      QVERIFY(keep.open(QIODevice::WriteOnly));
      keep.write("keep me");
    }

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
    dialog.SetNames(input, output);

    prompts.replaceAnswer = false;
    Press(dialog, "convert");
    QCOMPARE(prompts.replaceQuestions, QStringList{output});
    QVERIFY(!dialog.conversionRunning());
    QCOMPARE(prompts.compressorQuestions, 0);
    QVERIFY(LogLines(dialog).isEmpty());
    QFile kept(output);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("keep me"));
    kept.close();
    QCOMPARE(Child<QLineEdit>(dialog, "inputName")->text(), input);
    QCOMPARE(Child<QLineEdit>(dialog, "outputName")->text(), output);
    QVERIFY(Child<QPushButton>(dialog, "convert")->isEnabled());

    prompts.replaceAnswer = true;
    Press(dialog, "convert");
    QCOMPARE(prompts.replaceQuestions.size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QCOMPARE(LogLines(dialog), QStringList({"Saving the AVI file! Please waiting...", "File saved!"}));
    QVERIFY(QFileInfo(output).size() > 1000);
    if (HaveFfprobe()) QCOMPARE(VideoFramesOf(output), 10);

    // No question for a name the checks refuse, nor for a folder in the output's place.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.avi")));
    for (const QString& name : {dir.filePath("cam1.mov"), dir.filePath("folder.avi")}) {
      dialog.SetNames(input, name);
      dialog.Convert();
      QVERIFY(!dialog.conversionRunning());
    }
    dialog.SetNames(QString(), output);
    dialog.Convert();
    QCOMPARE(prompts.replaceQuestions.size(), 2);
  }

  void anOutputThatIsTheRecordingItselfIsNotOfferedForReplacing() {
    QTemporaryDir dir;
    const QString recording = dir.filePath("clip.avi");  // a recording that was given the wrong name
    QVERIFY(WriteRecording(recording, 5));
    const QString link = dir.filePath("link.avi");
    QVERIFY(QFile::link(recording, link));

    FakePrompts prompts;
    prompts.compressorAnswer.reset();  // should the job go on, stop it at the compressor question
    ConversionDialog dialog(prompts);
    for (const QString& output : {recording, link, dir.filePath("./clip.avi")}) {
      dialog.SetNames(recording, output);
      dialog.Convert();
      QVERIFY(!dialog.conversionRunning());
    }
    QVERIFY(prompts.replaceQuestions.isEmpty());
  }

  void progressBarShowsPercentAndStartsAgainForEachJob() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
    const QString shortInput = dir.filePath("short.zr");
    const QString longInput = dir.filePath("long.zr");
    QVERIFY(WriteRecording(shortInput, 40));
    QVERIFY(WriteRecording(longInput, 20000));

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
    QSignalSpy shown(&dialog, &ConversionDialog::progressShown);
    QProgressBar* progress = Child<QProgressBar>(dialog, "progress");

    dialog.SetNames(shortInput, dir.filePath("out/short.avi"));
    Press(dialog, "convert");
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->value(), 40);
    QCOMPARE(progress->text(), QStringLiteral("100%"));
    QVERIFY(!shown.isEmpty());
    QCOMPARE(RememberedFolders().outputFolder(), dir.filePath("out"));
    QCOMPARE(RememberedFolders().recordingFolder(), dir.path());

    // A new recording clears what the last job showed.
    QVERIFY(dialog.OpenRecording(longInput));
    QVERIFY(!progress->isVisible());
    QVERIFY(progress->value() < 0);
    QCOMPARE(Child<QLineEdit>(dialog, "outputName")->text(), dir.filePath("long.avi"));

    // So does the next job, from its first frame, and the bar counts up as it runs.
    dialog.SetNames(longInput, dir.filePath("out/long.avi"));
    Press(dialog, "convert");
    QVERIFY(dialog.conversionRunning());
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->value(), 0);
    QCOMPARE(progress->maximum(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, kWaitMs);
    QVERIFY(progress->text().endsWith(QLatin1Char('%')) || progress->text().endsWith(QStringLiteral(" left")));
    // Neither Browse nor a drop can swap the recording under a running job.
    QVERIFY(!dialog.OpenRecording(shortInput));
    QCOMPARE(Child<QLineEdit>(dialog, "inputName")->text(), longInput);
    Press(dialog, "cancel");
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kWaitMs);
    QVERIFY(progress->value() > 0 && progress->value() < 20000);
    QVERIFY2(!progress->text().contains(QStringLiteral("left")), qPrintable(progress->text()));
  }
  void saveAReportWritesTheReportBesideEachOutputAndIsRemembered() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zr");
    QVERIFY(WriteRecording(input, 40));
    FakePrompts prompts;
    {
      ConversionDialog dialog(prompts);
      QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
      QCheckBox* save = Child<QCheckBox>(dialog, "saveReport");
      QVERIFY(save && save->isVisibleTo(&dialog) && !save->isChecked());
      dialog.SetNames(input, dir.filePath("plain.avi"));
      Press(dialog, "convert");
      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
      QVERIFY(QFileInfo::exists(dir.filePath("plain.avi")));
      QVERIFY(!QFileInfo::exists(dir.filePath("plain.report.json")));

      QTest::mouseClick(save, Qt::LeftButton);
      QVERIFY(save->isChecked());
      dialog.SetNames(input, dir.filePath("cam1.avi"));
      Press(dialog, "convert");
      QVERIFY(!save->isEnabled());
      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kWaitMs);
      QVERIFY(save->isEnabled());
      // Written beside the conversion's end, then logged.
      const QString saved = QStringLiteral("Report saved as %1.").arg(dir.filePath("cam1.report.txt"));
      QTRY_COMPARE_WITH_TIMEOUT(LogLines(dialog).last(), saved, kWaitMs);
      const QString json = ReadText(dir.filePath("cam1.report.json"));
      QVERIFY2(json.contains(QStringLiteral("\"sha256\": \"%1\"").arg(Sha256Of(input))), qPrintable(json));
      QVERIFY2(json.contains(QStringLiteral("\"sha256\": \"%1\"").arg(Sha256Of(dir.filePath("cam1.avi")))), qPrintable(json));
      QVERIFY2(json.contains(QStringLiteral("\"front end\": \"desktop dialog\", \"codec\": \"raw\", \"quality\": \"90\"")),
               qPrintable(json));
      QVERIFY2(json.contains(QStringLiteral("\"codec\": \"raw\", \"frames\": 40")), qPrintable(json));
      QVERIFY2(json.contains(QStringLiteral("\"exitStatus\": 0, \"log\": [")), qPrintable(json));
      QVERIFY2(json.contains(QStringLiteral("\"File saved!\"")), qPrintable(json));
      const QString text = ReadText(dir.filePath("cam1.report.txt"));
      QVERIFY2(text.contains(QStringLiteral("  gaps in the clock: none\n")), qPrintable(text));

      // A conversion that does not start is reported too, with its reason.
      dialog.SetNames(dir.filePath("missing.zr"), dir.filePath("missing.avi"));
      Press(dialog, "convert");
      QTRY_VERIFY_WITH_TIMEOUT(LogLines(dialog).last().startsWith(QStringLiteral("Report saved as")), kWaitMs);
      const QString failed = ReadText(dir.filePath("missing.report.txt"));
      QVERIFY2(failed.contains(QStringLiteral("Exit status: 1\n")), qPrintable(failed));
      QVERIFY2(failed.contains(QStringLiteral("  File open failed!\n")), qPrintable(failed));

      // The report of an earlier conversion stays, and without replacing it nothing is converted.
      QVERIFY(QFile::remove(dir.filePath("cam1.avi")));
      dialog.SetNames(input, dir.filePath("cam1.avi"));
      Press(dialog, "convert");
      QTRY_VERIFY_WITH_TIMEOUT(!dialog.working(), kWaitMs);
      QVERIFY(!QFileInfo::exists(dir.filePath("cam1.avi")));
      QCOMPARE(ReadText(dir.filePath("cam1.report.json")), json);
      QVERIFY2(LogLines(dialog).last().contains(QStringLiteral("the report of an earlier conversion is kept")),
               qPrintable(LogLines(dialog).last()));
    }
    ConversionDialog again(prompts);
    QVERIFY(Child<QCheckBox>(again, "saveReport")->isChecked());
  }
};

QTEST_MAIN(ConversionTest)
#include "ConversionTest.moc"
