// The main window's layout, log, Browse, keys and About box, and the compressor dialog.
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/AboutDialog.h"
#include "app/BrowseRules.h"
#include "app/CompressorDialog.h"
#include "app/ConversionDialog.h"
#include "app/QtPrompts.h"
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

int TopLogRow(QListWidget* log) { return log->indexAt(QPoint(2, 2)).row(); }

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private slots:
  void theTenControlsSitAtTheirPixelRectanglesWithTheirTexts() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Zentrova"));
    QCOMPARE(dialog.size(), QSize(430, 330));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    struct Expected {
      const char* name;
      QRect place;
      QString text;
    };
    const Expected labels[] = {
        {"inputLabel", {10, 10, 100, 20}, "Input Zr File:"},
        {"outputLabel", {10, 40, 100, 20}, "Output Avi File:"},
        {"hint", {10, 80, 410, 30},
         "Please select the Intel Indeo or Full Frame(Uncompressed) video format by suggestion."},
    };
    for (const Expected& e : labels) {
      QLabel* label = Child<QLabel>(dialog, e.name);
      QVERIFY(label);
      QCOMPARE(label->geometry(), e.place);
      QCOMPARE(label->text(), e.text);
    }
    const Expected fields[] = {{"inputName", {110, 10, 240, 20}, ""}, {"outputName", {110, 40, 240, 20}, ""}};
    for (const Expected& e : fields) {
      QLineEdit* field = Child<QLineEdit>(dialog, e.name);
      QVERIFY(field);
      QCOMPARE(field->geometry(), e.place);
      QVERIFY(field->text().isEmpty());
    }
    const Expected buttons[] = {
        {"browse", {360, 10, 60, 20}, "Browse..."},
        {"convert", {360, 40, 60, 20}, "Convert"},
        {"close", {360, 300, 60, 20}, "Close"},
        {"about", {290, 300, 60, 20}, "About..."},
    };
    for (const Expected& e : buttons) {
      QPushButton* button = Child<QPushButton>(dialog, e.name);
      QVERIFY(button);
      QCOMPARE(button->geometry(), e.place);
      QCOMPARE(button->text(), e.text);
      QVERIFY(button->isVisible());
      QVERIFY(!button->isDefault());
      QVERIFY(!button->autoDefault());
    }
    QListWidget* log = Child<QListWidget>(dialog, "log");
    QVERIFY(log);
    QCOMPARE(log->geometry(), QRect(10, 110, 410, 180));
    QCOMPARE(log->count(), 0);
    QVERIFY(!log->isSortingEnabled());

    // The extras of the running conversion stay out of sight until one starts.
    QVERIFY(!Child<QWidget>(dialog, "progress")->isVisible());
    QVERIFY(!Child<QWidget>(dialog, "cancel")->isVisible());
  }

  void tabOrderFollowsTheTemplateStartingAtTheLog() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const char* order[] = {"log", "inputName", "outputName", "browse", "convert", "close", "about"};
    QWidget* widget = Child<QWidget>(dialog, order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
      widget = widget->nextInFocusChain();
      while (widget->focusPolicy() == Qt::NoFocus || !widget->isVisible()) widget = widget->nextInFocusChain();
      QCOMPARE(widget->objectName(), QString::fromLatin1(order[i]));
    }
  }

  void programIconIs32By32WithoutAlpha() {
    const QImage icon(QStringLiteral(":/zentrova/zentrova.png"));
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(!icon.hasAlphaChannel());
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QVERIFY(dialog.windowIcon().availableSizes().contains(QSize(32, 32)));
  }

  void windowSitsCentredWithItsMiddleAtTwoFifthsOfTheScreen() {
    // A 1024 x 768 screen and a frame that adds 6 x 25 pixels.
    QCOMPARE(PlaceMainWindow({1024, 768}, {6, 25}), QRect(294, 130, 436, 355));
    QCOMPARE(PlaceMainWindow({800, 600}, {0, 0}), QRect(185, 75, 430, 330));

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect screen = dialog.screen()->geometry();
    const QRect frame = dialog.frameGeometry();
    const QRect expected = PlaceMainWindow(screen.size(), frame.size() - dialog.size());
    QCOMPARE(frame.topLeft(), screen.topLeft() + expected.topLeft());
  }

  void logKeepsEveryLineAndShowsTheLastFourteen() {
    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget* log = Child<QListWidget>(dialog, "log");

    for (int i = 1; i <= 14; ++i) dialog.AddLogLine(QStringLiteral("line %1").arg(i));
    QCOMPARE(TopLogRow(log), 0);
    dialog.AddLogLine(QStringLiteral("line 15"));
    QCOMPARE(log->item(TopLogRow(log))->text(), QStringLiteral("line 2"));
    QVERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(14))));

    for (int i = 16; i <= 20; ++i) dialog.AddLogLine(QStringLiteral("line %1").arg(i));
    QCOMPARE(log->count(), 20);
    QCOMPARE(log->item(TopLogRow(log))->text(), QStringLiteral("line 7"));
    QVERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(19))));
    QVERIFY(!log->viewport()->rect().contains(log->visualItemRect(log->item(5))));
    QCOMPARE(log->item(0)->text(), QStringLiteral("line 1"));
  }

  void browseDerivesTheOutputNameAndOrdersTheFilters() {
    QTemporaryDir dir;
    const QString zrx = TouchFile(dir, "cam1.zrx");
    const QString zr = TouchFile(dir, "cam1.zr");
    const QString upper = TouchFile(dir, "CAM2.ZR");
    const QString bare = TouchFile(dir, "clipzr");

    FakePrompts prompts;
    ConversionDialog dialog(prompts);
    QLineEdit* input = Child<QLineEdit>(dialog, "inputName");
    QLineEdit* output = Child<QLineEdit>(dialog, "outputName");
    const QStringList zrFirst{"Video files(*.zr)", "Video files(*.zrx)"};
    const QStringList zrxFirst{"Video files(*.zrx)", "Video files(*.zr)"};

    prompts.recordingAnswers = {zrx, zr, upper, bare, QString()};
    dialog.Browse();
    QCOMPARE(prompts.browseCalls.back().filters, zrFirst);
    QCOMPARE(input->text(), zrx);
    QCOMPARE(output->text(), dir.filePath("cam1.avi"));

    dialog.Browse();  // the .zrx filter comes first after a .zrx file
    QCOMPARE(prompts.browseCalls.back().filters, zrxFirst);
    QCOMPARE(input->text(), zr);
    QCOMPARE(output->text(), dir.filePath("cam1.avi"));

    output->setText(QStringLiteral("kept.avi"));
    dialog.Browse();  // upper-case endings derive nothing
    QCOMPARE(prompts.browseCalls.back().filters, zrFirst);
    QCOMPARE(input->text(), upper);
    QCOMPARE(output->text(), QStringLiteral("kept.avi"));

    dialog.Browse();  // no dot needed before the two letters
    QCOMPARE(input->text(), bare);
    QCOMPARE(output->text(), dir.filePath("clipavi"));

    dialog.Browse();  // a cancel changes nothing
    QCOMPARE(input->text(), bare);
    QCOMPARE(output->text(), dir.filePath("clipavi"));
    QCOMPARE(prompts.browseCalls.size(), size_t{5});
  }

  void recordingFileDialogAcceptsOnlyExistingFiles() {
    const BrowseRequest request = BrowseRequestFor(true);
    auto dialog = MakeRecordingFileDialog(nullptr, request.filters, request.defaultSuffix);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->nameFilters(), QStringList({"Video files(*.zrx)", "Video files(*.zr)"}));
    QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("Video files(*.zrx)"));
  }

  void enterEscapeAndCloseEndTheDialog() {
    FakePrompts prompts;
    {
      ConversionDialog dialog(prompts);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QTest::keyClick(Child<QLineEdit>(dialog, "inputName"), Qt::Key_Return);
      QVERIFY(!dialog.isVisible());
    }
    {
      ConversionDialog dialog(prompts);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QTest::keyClick(Child<QListWidget>(dialog, "log"), Qt::Key_Escape);
      QVERIFY(!dialog.isVisible());
    }
    {
      ConversionDialog dialog(prompts);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QTest::mouseClick(Child<QPushButton>(dialog, "close"), Qt::LeftButton);
      QVERIFY(!dialog.isVisible());
    }
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
    QCOMPARE(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);

    QStringList seen;
    auto answer = [&seen](QWidget* modal) {
      auto* about = qobject_cast<AboutDialog*>(modal);
      if (!about) {
        modal->close();
        return;
      }
      seen << about->windowTitle() << about->findChild<QLabel*>("version")->text();
      QVERIFY(!about->findChild<QLabel*>("line")->text().isEmpty());
      QVERIFY(!about->findChild<QLabel*>("icon")->pixmap().isNull());
      QTest::mouseClick(about->findChild<QPushButton*>("ok"), Qt::LeftButton);
    };
    AnswerNextModal(answer);
    QTest::mouseClick(Child<QPushButton>(dialog, "about"), Qt::LeftButton);
    AnswerNextModal(answer);
    entry->trigger();

    QCOMPARE(seen, QStringList({"About Zentrova", "Zentrova Version 1.0", "About Zentrova", "Zentrova Version 1.0"}));
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
};

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
