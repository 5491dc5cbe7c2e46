// "Only part" in the main window: the times filled from the chosen recording, a conversion of
// part of it holding exactly the frames between them, and a time that cannot be read refused
// before anything starts.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/ConversionDialog.h"
#include "avi/AviTestSupport.h"
#include "zrgen/RecordingGenerator.h"

using namespace zentrova;
using namespace zentrova::app;
using namespace zentrova::app::testing;

namespace {

constexpr int kWaitMs = 60000;
constexpr int32_t kStart = 1199931245;  // 2008-01-10T02:14:05Z, 10:14:05 on the recorder (UTC+8)

template <typename T>
T* Child(QWidget& parent, const char* name) {
  return parent.findChild<T*>(QString::fromLatin1(name));
}

QString LastLogLine(ConversionDialog& dialog) {
  QListWidget* log = Child<QListWidget>(dialog, "log");
  return log->count() > 0 ? log->item(log->count() - 1)->text() : QString();
}

// 100 frames at 25 a second (4 s), a picture of their own each, intra pictures every 25 frames.
bool MakeRecording(const QString& path) {
  zrgen::GeneratorOptions o;
  o.output = path.toStdString();
  o.resolutionCode = 0;
  o.frames = 100;
  o.framesPerBlock = 10;
  o.startTime = kStart;
  o.createTick = 1000;
  o.utcOffsetHours = 8;
  o.idct = IdctChoice::Plain;
  zrgen::GeneratorReport report;
  return zrgen::GenerateRecording(o, report);
}

std::vector<std::vector<uint8_t>> Pictures(const QString& path) {
  std::vector<std::vector<uint8_t>> pictures;
  const std::vector<uint8_t> f = avi::testing::ReadFile(path.toStdString());
  for (const avi::RiffChunk& c : avi::ListRiffChunks(f)) {
    const std::string tail = c.path.size() >= 4 ? c.path.substr(c.path.size() - 4) : "";
    if (c.path.find("movi/") != std::string::npos && (tail == "00db" || tail == "00dc"))
      pictures.emplace_back(f.begin() + c.data, f.begin() + c.data + c.size);
  }
  return pictures;
}

bool RawAvailable() {
  for (const avi::CompressorInfo& c : avi::ListCompressors())
    if (c.name == "raw" && c.available) return true;
  return false;
}

}  // namespace

class TimeWindowTest : public QObject {
  Q_OBJECT

  SettingsSandbox settings_;

 private slots:
  void init() {
    if (!RawAvailable()) QSKIP("this build has no uncompressed AVI output");
  }

  void choosingARecordingFillsTheTimesWithItsStartAndEnd() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zr");
    QVERIFY(MakeRecording(input));
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QVERIFY(dialog.OpenRecording(input));
    QCOMPARE(Child<QLineEdit>(dialog, "fromTime")->text(), QStringLiteral("2008-01-10 10:14:05.000"));
    QCOMPARE(Child<QLineEdit>(dialog, "toTime")->text(), QStringLiteral("2008-01-10 10:14:09.000"));
    QVERIFY(!Child<QCheckBox>(dialog, "onlyPart")->isChecked());
  }

  void onlyPartConvertsTheFramesBetweenTheTimesAsAWholeConversionShowsThem() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zr");
    QVERIFY(MakeRecording(input));
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &ConversionDialog::conversionFinished);

    QVERIFY(dialog.OpenRecording(input));
    const QString whole = dir.filePath("whole.avi");
    dialog.SetNames(input, whole);
    dialog.Convert();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    const auto wholePictures = Pictures(whole);
    QCOMPARE(wholePictures.size(), size_t{100});

    // One second from 10:14:06 on the recorder's clock: frames 25 to 49.
    const QString part = dir.filePath("part.avi");
    dialog.SetNames(input, part);
    Child<QCheckBox>(dialog, "onlyPart")->setChecked(true);
    Child<QLineEdit>(dialog, "fromTime")->setText(QStringLiteral("2008-01-10 10:14:06"));
    Child<QLineEdit>(dialog, "toTime")->setText(QStringLiteral("2008-01-10 10:14:07"));
    dialog.Convert();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kWaitMs);
    const auto partPictures = Pictures(part);
    QCOMPARE(partPictures.size(), size_t{25});
    for (size_t k = 0; k < partPictures.size(); ++k) QVERIFY2(partPictures[k] == wholePictures[25 + k], "a frame differs");
  }

  void aTimeThatCannotBeReadIsSaidAndNothingStarts() {
    QTemporaryDir dir;
    const QString input = dir.filePath("cam1.zr");
    const QString output = dir.filePath("cam1.avi");
    QVERIFY(MakeRecording(input));
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QVERIFY(dialog.OpenRecording(input));
    dialog.SetNames(input, output);
    Child<QCheckBox>(dialog, "onlyPart")->setChecked(true);
    Child<QLineEdit>(dialog, "fromTime")->setText(QStringLiteral("ten past two"));
    dialog.Convert();
    QVERIFY(!dialog.working());
    QVERIFY2(LastLogLine(dialog).startsWith(QStringLiteral("Only part: From: ")), qPrintable(LastLogLine(dialog)));
    QCOMPARE(prompts.compressorQuestions, 0);
    QVERIFY(!QFile::exists(output));

    // A window that holds none of the recording's frames is refused the same way.
    Child<QLineEdit>(dialog, "fromTime")->setText(QStringLiteral("2008-01-10 11:00:00"));
    Child<QLineEdit>(dialog, "toTime")->clear();
    dialog.Convert();
    QVERIFY(!dialog.working());
    QVERIFY2(LastLogLine(dialog).startsWith(QStringLiteral("Only part: nothing to convert")), qPrintable(LastLogLine(dialog)));
    QVERIFY(!QFile::exists(output));
  }
};

QTEST_MAIN(TimeWindowTest)
#include "TimeWindowTest.moc"
