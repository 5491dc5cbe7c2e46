#include "app/RecordingHealth.h"

#include <QFile>
#include <QFileInfo>

#include "recording/ZrReader.h"

namespace zentrova::app {

RecordingHealth CheckRecording(const QString& path) {
  RecordingHealth health;
  const QString name = QFileInfo(path).fileName();
  ZrReader reader;
  RecordingInfo info;
  if (!reader.open(QFile::encodeName(path).toStdString(), &info, 0, 1)) {
    health.failure = QString::fromLocal8Bit(reader.failureReason());
    // A missing or unreadable file, or a folder, has nothing to search.
    const QFileInfo file(path);
    health.searchable = file.exists() && !file.isDir() && file.isReadable();
    return health;
  }
  health.opened = true;
  if (reader.framesBeyondChain() > 0) {
    health.damage = QStringLiteral("%1 is damaged: it holds %2 more frames after the end of its block chain, "
                                   "which a plain conversion leaves out.")
                        .arg(name)
                        .arg(reader.framesBeyondChain());
    return health;
  }
  const std::vector<std::string> warnings = reader.damageWarnings();
  if (!warnings.empty())
    health.damage = QStringLiteral("%1 is damaged: %2. A plain conversion may leave frames out.")
                        .arg(name, QString::fromLocal8Bit(warnings.front()));
  return health;
}

QString DescribeUnopenedButFound(const QString& path, const QString& failure, const ScanResult& found) {
  uint64_t frames = 0;
  for (const FoundRecording& f : found.recordings) frames += f.frames;
  const size_t count = found.recordings.size();
  return QStringLiteral("%1 cannot be opened as a recording (%2). A search of the file found %3 frames in %4.")
      .arg(QFileInfo(path).fileName(), failure)
      .arg(frames)
      .arg(count == 1 ? QStringLiteral("one recording") : QStringLiteral("%1 recordings").arg(count));
}

}  // namespace zentrova::app
