#include "app/RememberedFolders.h"

#include <QFileInfo>
#include <QSettings>

namespace zentrova::app {

QSettings SettingsStore() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Zentrova"),
                   QStringLiteral("zentrova-gui"));
}

namespace {

const QString kRecordingKey = QStringLiteral("folders/recording");
const QString kOutputKey = QStringLiteral("folders/output");

QSettings Store() { return SettingsStore(); }

QString Read(const QString& key) { return Store().value(key).toString(); }

void WriteFolderOf(const QString& key, const QString& path) {
  if (path.isEmpty()) return;
  const QString folder = QFileInfo(path).absolutePath();
  if (!QFileInfo(folder).isDir()) return;
  QSettings store = Store();
  store.setValue(key, folder);
}

}  // namespace

QString RememberedFolders::recordingFolder() const { return Read(kRecordingKey); }
QString RememberedFolders::outputFolder() const { return Read(kOutputKey); }

void RememberedFolders::RememberRecording(const QString& path) { WriteFolderOf(kRecordingKey, path); }
void RememberedFolders::RememberOutput(const QString& path) { WriteFolderOf(kOutputKey, path); }

QStringList RememberedFolders::BrowseFallbacks() const {
  QStringList folders;
  for (const QString& folder : {recordingFolder(), outputFolder()})
    if (!folder.isEmpty()) folders << folder;
  return folders;
}

}  // namespace zentrova::app
