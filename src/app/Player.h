#pragma once
// The player that Play starts with a recording: another program registered for the recording type
// (opened through xdg-open), else gst-play-1.0, which plays recordings through our GStreamer
// plugin. Our own program is registered for the type too; it converts, it does not play.
#include <QString>
#include <QStringList>
#include <functional>

namespace zentrova::app {

struct Player {
  QString program;    // empty when there is none
  QStringList arguments;  // the recording follows them
  QString name;       // what the entry's tooltip calls it
  QString missing;    // why there is none
  bool available() const { return !program.isEmpty(); }
};

// Looked up each time the context menu opens, since players come and go.
using PlayerLookup = std::function<Player()>;

Player FindPlayer();

// Starts the player on its own, not as a child the window waits for. False when it cannot start.
bool StartPlayer(const Player& player, const QString& recording);

}  // namespace zentrova::app
