#include "app/RecordingHealth.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include "container/Tags.h"
#include "convert/ConversionJob.h"
#include "recording/ZrReader.h"

namespace zentrova::app {

RecordingHealth CheckRecording(const QString& path) {
  RecordingHealth health;
  const QString name = QFileInfo(path).fileName();
  ZrReader reader;
  RecordingInfo info;
  if (auto opened = reader.open(QFile::encodeName(path).toStdString(), &info); !opened) {
    health.failure = QString::fromLocal8Bit(opened.reason());
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

RecordingFacts DescribeRecording(const QString& path) {
  RecordingFacts facts;
  if (path.trimmed().isEmpty()) return facts;
  ZrReader reader;
  RecordingInfo info;
  if (auto opened = reader.open(QFile::encodeName(path).toStdString(), &info); !opened) {
    facts.text = QStringLiteral("Not a recording that opens: %1").arg(QString::fromLocal8Bit(opened.reason()));
    facts.damaged = true;
    return facts;
  }
  const int32_t outputHeight = ConversionJob::ComputeOutputHeight(info.width, info.height);
  const int64_t seconds = static_cast<int64_t>(static_cast<uint32_t>(reader.endTime()) -
                                               static_cast<uint32_t>(reader.startTime()));
  const QString start = QDateTime::fromSecsSinceEpoch(reader.startTime(), QTimeZone::utc())
                            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss 'UTC'"));
  facts.text = QStringLiteral("%1 x %2%3, %4 frames, %5:%6, recorded %7")
                   .arg(info.width)
                   .arg(info.height)
                   .arg(outputHeight != info.height ? QStringLiteral(" (saved as %1 x %2)").arg(info.width).arg(outputHeight)
                                                    : QString())
                   .arg(reader.frameCount())
                   .arg(seconds / 60)
                   .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                   .arg(start);
  const QString title = QString::fromStdString(container::TextToUtf8(reader.text1()));
  if (!title.isEmpty()) facts.text += QStringLiteral(", \u201C%1\u201D").arg(title);
  const RecordingHealth health = CheckRecording(path);
  if (!health.damage.isEmpty()) {
    facts.text += QStringLiteral(". Warning: ") + health.damage;
    facts.damaged = true;
  }
  return facts;
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
