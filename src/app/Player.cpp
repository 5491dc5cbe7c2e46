#include "app/Player.h"

#include <QProcess>
#include <QStandardPaths>

namespace zentrova::app {
namespace {

const char* const kRecordingType = "video/x-zr";
const char* const kOwnDesktopEntry = "zentrova.desktop";

// The desktop entry of the default application for recordings, or an empty string.
QString DefaultApplication() {
  const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdgMime.isEmpty()) return {};
  QProcess query;
  query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QString::fromLatin1(kRecordingType)});
  if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) {
    query.kill();
    query.waitForFinished(1000);
    return {};
  }
  return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

}  // namespace

Player FindPlayer() {
  Player player;
  const QString application = DefaultApplication();
  const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (!application.isEmpty() && application != QString::fromLatin1(kOwnDesktopEntry) && !xdgOpen.isEmpty()) {
    player.program = xdgOpen;
    player.name = application;
    return player;
  }
  const QString gstPlay = QStandardPaths::findExecutable(QStringLiteral("gst-play-1.0"));
  if (!gstPlay.isEmpty()) {
    player.program = gstPlay;
    player.name = QStringLiteral("gst-play-1.0");
    return player;
  }
  player.missing = QStringLiteral(
      "No player is registered for ZR recordings and gst-play-1.0 is not installed "
      "(the gstreamer1.0-tools package has it).");
  return player;
}

bool StartPlayer(const Player& player, const QString& recording) {
  if (!player.available()) return false;
  return QProcess::startDetached(player.program, QStringList(player.arguments) << recording);
}

}  // namespace zentrova::app
