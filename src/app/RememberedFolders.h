#pragma once
// The folders the dialog remembers from one run to the next: where the last recording came from
// and where the last conversion wrote its file. Kept with QSettings in the user's configuration
// (an INI file, ~/.config/Zentrova/zentrova-gui.ini on Linux).
#include <QSettings>
#include <QString>
#include <QStringList>

namespace zentrova::app {

// The dialog's settings: the folders below, the compressor last chosen, the window's geometry.
QSettings SettingsStore();

class RememberedFolders {
 public:
  QString recordingFolder() const;
  QString outputFolder() const;

  // Remember the folder that holds `path` (a file; its folder need not be given).
  void RememberRecording(const QString& path);
  void RememberOutput(const QString& path);

  // Browse's fallbacks, most useful first: the recording folder, then the output folder.
  QStringList BrowseFallbacks() const;
};

}  // namespace zentrova::app
