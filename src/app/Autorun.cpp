#include "app/Autorun.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/ConversionDialog.h"
#include "app/ProgressText.h"

namespace zentrova::app {
namespace {

// Time for the window to be mapped and painted before Convert is pressed and before the grab.
constexpr int kSettleMs = 500;

QString Environment(const char* name) { return qEnvironmentVariable(name); }

// The window's pixels as the X server shows them; the widget's own rendering where the platform
// cannot grab the screen.
QPixmap GrabWindow(ConversionDialog& dialog) {
  if (QScreen* screen = dialog.screen()) {
    const QRect frame = dialog.frameGeometry();
    QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!shot.isNull()) return shot;
  }
  return dialog.grab();
}

}  // namespace

std::optional<AutorunSettings> AutorunFromEnvironment() {
  AutorunSettings settings;
  settings.input = Environment("ZENTROVA_AUTORUN_INPUT");
  if (settings.input.isEmpty()) return std::nullopt;
  settings.output = Environment("ZENTROVA_AUTORUN_OUTPUT");
  if (const QString codec = Environment("ZENTROVA_AUTORUN_CODEC"); !codec.isEmpty()) settings.codec = codec;
  settings.screenshot = Environment("ZENTROVA_AUTORUN_SCREENSHOT");
  settings.maximized = Environment("ZENTROVA_AUTORUN_WINDOW") == QStringLiteral("maximized");
  bool ok = false;
  const int percent = Environment("ZENTROVA_AUTORUN_SCREENSHOT_AT").toInt(&ok);
  if (ok) settings.screenshotAtPercent = std::clamp(percent, 0, 100);
  return settings;
}

QString AutorunPrompts::ChooseRecording(QWidget* parent, const BrowseRequest& request) {
  return inner_.ChooseRecording(parent, request);
}

std::optional<avi::CompressOptions> AutorunPrompts::ChooseCompressor(QWidget*) {
  avi::CompressOptions options;
  options.codec = codec_.toStdString();
  return options;
}

void AutorunPrompts::ShowFileError(QWidget* parent, const QString& message) {
  std::fprintf(stderr, "zentrova-gui: %s\n", message.toLocal8Bit().constData());
}

void StartAutorun(ConversionDialog& dialog, const AutorunSettings& settings) {
  if (settings.maximized) {
    dialog.setWindowState(Qt::WindowMaximized);
    // Without a window manager (Xvfb) nothing acts on the state: take the screen after the
    // window has been placed.
    QTimer::singleShot(kSettleMs / 2, &dialog, [&dialog] {
      if (QScreen* screen = dialog.screen()) dialog.setGeometry(screen->availableGeometry());
    });
  }
  const QStringList inputs = settings.input.split(QLatin1Char(':'), Qt::SkipEmptyParts);
  const bool queue = inputs.size() > 1;
  QTimer::singleShot(kSettleMs, &dialog, [&dialog, settings, inputs, queue] {
    if (queue) {
      dialog.SetNames(QString(), settings.output);
      dialog.QueueRecordings(inputs);
      return;
    }
    // As a chosen recording, so that its facts show under its name.
    dialog.OpenRecording(settings.input);
    if (!settings.output.isEmpty()) dialog.SetNames(settings.input, settings.output);
    dialog.Convert();
  });
  if (settings.screenshot.isEmpty()) return;
  auto save = [&dialog, settings] {
    if (!GrabWindow(dialog).save(settings.screenshot, "PNG"))
      std::fprintf(stderr, "zentrova-gui: cannot write %s\n", settings.screenshot.toLocal8Bit().constData());
  };
  if (settings.screenshotAtPercent >= 0) {
    // Once, a moment after the bar reaches the mark, so that the window shows the new text.
    auto taken = std::make_shared<bool>(false);
    QObject::connect(&dialog, &ConversionDialog::progressShown, &dialog,
                     [&dialog, settings, save, taken](uint32_t done, uint32_t total) {
                       if (*taken || PercentDone(done, total) < settings.screenshotAtPercent) return;
                       *taken = true;
                       QTimer::singleShot(kSettleMs / 2, &dialog, save);
                     });
    QObject::connect(&dialog, &ConversionDialog::conversionFinished, &dialog,
                     [&dialog] { QTimer::singleShot(kSettleMs, &dialog, [&dialog] { dialog.close(); }); });
    return;
  }
  auto saveAndClose = [&dialog, save] {
    QTimer::singleShot(kSettleMs, &dialog, [&dialog, save] {
      save();
      dialog.close();
    });
  };
  if (queue)
    QObject::connect(&dialog, &ConversionDialog::queueFinished, &dialog, saveAndClose);
  else
    QObject::connect(&dialog, &ConversionDialog::conversionFinished, &dialog, saveAndClose);
}

}  // namespace zentrova::app
