// A damaged recording met by Convert: the question, recovering into numbered outputs, converting
// it as it is; and no question for a recording that is whole.
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/ConversionDialog.h"
#include "zrgen/RecordingGenerator.h"

using namespace zentrova;
using namespace zentrova::app;
using namespace zentrova::app::testing;

namespace {

constexpr int kWaitMs = 60000;

QStringList LogLines(ConversionDialog& dialog) {
  QStringList lines;
  auto* log = dialog.findChild<QListWidget*>(QStringLiteral("log"));
  for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
  return lines;
}

// A recording of coded pictures and sound, in blocks of ten frames.
bool WriteCodedRecording(const QString& path, int frames, uint32_t seed) {
  zrgen::GeneratorOptions options;
  options.output = path.toStdString();
  options.frames = frames;
  options.framesPerBlock = 10;
  options.intraPeriod = 10;
  options.seed = seed;
  options.startTime = 1700000000 + static_cast<int32_t>(seed) * 3600;
  zrgen::GeneratorReport report;
  return GenerateRecording(options, report) && report.error.empty();
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool RawAvailable() {
  for (const avi::CompressorInfo& c : avi::ListCompressors())
    if (c.name == "raw" && c.available) return true;
  return false;
}

}  // namespace

class RecoveryTest : public QObject {
  Q_OBJECT

  SettingsSandbox settings_;
  QTemporaryDir dir_;
  QString whole_, joined_, headless_;

 private slots:
  void initTestCase() {
    if (!RawAvailable()) QSKIP("this build has no uncompressed AVI output");
    // A careless copy: two recordings one after the other in one file (30 frames, then 20).
    whole_ = dir_.filePath("first.zr");
    const QString second = dir_.filePath("second.zr");
    QVERIFY(WriteCodedRecording(whole_, 30, 1));
    QVERIFY(WriteCodedRecording(second, 20, 2));
    joined_ = dir_.filePath("joined.zr");
    QVERIFY(Write(joined_, Read(whole_) + Read(second)));
    // A recording whose file header was overwritten with zeros.
    headless_ = dir_.filePath("headless.zr");
    QByteArray bytes = Read(whole_);
    bytes.replace(0, 36, QByteArray(36, '\0'));
    QVERIFY(Write(headless_, bytes));
  }

  void aWholeRecordingConvertsWithoutAQuestion() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
    dialog.SetNames(whole_, dir_.filePath("whole.avi"));
    dialog.Convert();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QVERIFY(prompts.recoverQuestions.isEmpty());
    QCOMPARE(LogLines(dialog), QStringList({"Saving the AVI file! Please waiting...", "File saved!"}));
    if (HaveFfprobe()) QCOMPARE(VideoFramesOf(dir_.filePath("whole.avi")), 30);
  }

  void recoveringConvertsEveryRecordingFoundIntoNumberedOutputs() {
    const QString output = dir_.filePath("joined.avi");
    const QString second = dir_.filePath("joined-2.avi");
    QVERIFY(Write(second, "keep me?"));
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
    QSignalSpy recovered(&dialog, &ConversionDialog::recoveryFinished);
    dialog.SetNames(joined_, output);
    dialog.Convert();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.count(), 1, kWaitMs);
    QVERIFY(!dialog.working());

    QCOMPARE(prompts.recoverQuestions.size(), 1);
    QVERIFY2(prompts.recoverQuestions[0].contains(QStringLiteral("20 more frames")), qPrintable(prompts.recoverQuestions[0]));
    QCOMPARE(prompts.replaceQuestions, QStringList{second});  // each output is asked about on its own
    QCOMPARE(prompts.compressorQuestions, 1);                // one choice serves every recording
    QCOMPARE(finished.count(), 2);
    const QStringList lines = LogLines(dialog);
    QVERIFY2(lines.first().startsWith(QStringLiteral("recording 1 of 2, ")), qPrintable(lines.join('\n')));
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^recording [12] of 2, .*30 frames|20 frames"))).size(), 2);
    QCOMPARE(lines.count(QStringLiteral("Saving the AVI file! Please waiting...")), 2);
    QCOMPARE(lines.count(QStringLiteral("File saved!")), 2);
    QVERIFY(QFileInfo(second).size() > 1000);
    if (HaveFfprobe()) {
      QCOMPARE(VideoFramesOf(output), 30);
      QCOMPARE(VideoFramesOf(second), 20);
    }
  }

  void declinedRecoveryConvertsTheRecordingAsItIs() {
    const QString output = dir_.filePath("plain.avi");
    FakePrompts prompts;
    prompts.recoverAnswer = false;
    ConversionDialog dialog(prompts);
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);
    dialog.SetNames(joined_, output);
    dialog.Convert();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QCOMPARE(prompts.recoverQuestions.size(), 1);
    const QStringList lines = LogLines(dialog);
    QCOMPARE(lines.first(), QStringLiteral("Saving the AVI file! Please waiting..."));
    QVERIFY(lines.contains(QStringLiteral("File saved!")));
    QVERIFY(!QFileInfo::exists(dir_.filePath("plain-2.avi")));
    if (HaveFfprobe()) QCOMPARE(VideoFramesOf(output), 30);
  }

  void aRecordingThatCannotBeOpenedIsOfferedOnlyOnceItsFramesAreFound() {
    const QString output = dir_.filePath("headless.avi");
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QSignalSpy recovered(&dialog, &ConversionDialog::recoveryFinished);
    dialog.SetNames(headless_, output);
    dialog.Convert();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.count(), 1, kWaitMs);
    QCOMPARE(prompts.recoverQuestions.size(), 1);
    QVERIFY2(prompts.recoverQuestions[0].contains(QStringLiteral("cannot be opened")) &&
                 prompts.recoverQuestions[0].contains(QStringLiteral("found 30 frames in one recording")),
             qPrintable(prompts.recoverQuestions[0]));
    QVERIFY(LogLines(dialog).contains(QStringLiteral("File saved!")));
    if (HaveFfprobe()) QCOMPARE(VideoFramesOf(output), 30);

    // Declined, the plain conversion fails as it always did, and nothing is written.
    prompts.recoverAnswer = false;
    QVERIFY(QFile::remove(output));
    const int before = LogLines(dialog).size();
    dialog.Convert();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.working(), kWaitMs);
    QCOMPARE(prompts.recoverQuestions.size(), 2);
    QCOMPARE(LogLines(dialog).mid(before).first(), QStringLiteral("File open failed!"));
    QVERIFY(!QFileInfo::exists(output));
  }

  void cancelStopsTheSearchAndNothingIsConverted() {
    // A large file of zeros (sparse, so it costs no disk) takes long enough to search.
    const QString image = dir_.filePath("disk.img");
    {
      QFile file(image);
      QVERIFY(file.open(QIODevice::WriteOnly));
      QVERIFY(file.resize(qint64{8} << 30));
    }
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QSignalSpy recovered(&dialog, &ConversionDialog::recoveryFinished);
    dialog.SetNames(image, dir_.filePath("disk.avi"));
    dialog.Convert();
    QVERIFY(dialog.working());
    QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("convert"))->isEnabled());
    dialog.CancelConversion();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.count(), 1, kWaitMs);
    QVERIFY(!dialog.working());
    QCOMPARE(LogLines(dialog), QStringList{"Search cancelled: nothing was converted."});
    QVERIFY(prompts.recoverQuestions.isEmpty());
    QVERIFY(!QFileInfo::exists(dir_.filePath("disk.avi")));
    QFile::remove(image);
  }

  void noiseIsSearchedButNothingIsOffered() {
    const QString noise = dir_.filePath("noise.zr");
    QByteArray bytes(200000, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
    QVERIFY(Write(noise, bytes));
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.SetNames(noise, dir_.filePath("noise.avi"));
    dialog.Convert();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.working(), kWaitMs);
    QVERIFY(prompts.recoverQuestions.isEmpty());
    QCOMPARE(LogLines(dialog).first(), QStringLiteral("File open failed!"));
    QVERIFY(!QFileInfo::exists(dir_.filePath("noise.avi")));
  }
};

QTEST_MAIN(RecoveryTest)
#include "RecoveryTest.moc"
