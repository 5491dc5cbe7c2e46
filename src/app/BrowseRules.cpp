#include "app/BrowseRules.h"

#include <QDir>
#include <QFileInfo>

namespace zentrova::app {
namespace {

// Every spelling of both endings: a file dialog matches patterns by case on this platform.
QString RecordingFilter() {
  QStringList patterns;
  for (const QString& ending : {QStringLiteral("zr"), QStringLiteral("zrx")}) {
    for (int mask = 0; mask < (1 << ending.size()); ++mask) {
      QString spelled = ending;
      for (int i = 0; i < ending.size(); ++i)
        if (mask & (1 << i)) spelled[i] = spelled[i].toUpper();
      patterns << QStringLiteral("*.") + spelled;
    }
  }
  return QStringLiteral("Recordings (%1)").arg(patterns.join(QLatin1Char(' ')));
}

bool IsFolder(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

}  // namespace

BrowseRequest BrowseRequestFor(bool preferZrx) {
  return {{RecordingFilter(), QStringLiteral("All files (*)")}, preferZrx ? QStringLiteral("zrx") : QStringLiteral("zr"),
          {}};
}

QString BrowseStartFolder(const QString& inputName, const QStringList& rememberedFolders) {
  const QString trimmed = inputName.trimmed();
  if (!trimmed.isEmpty()) {
    const QFileInfo name(trimmed);
    // A folder typed into the field counts as the place to look in.
    const QString folder = name.isDir() ? name.absoluteFilePath() : name.absolutePath();
    // A bare name typed into the field has no folder of its own: the process's folder says
    // nothing about where the user keeps recordings.
    const bool hasFolder = name.isDir() || trimmed.contains(QLatin1Char('/'));
    if (hasFolder && IsFolder(folder)) return QDir::cleanPath(folder);
  }
  for (const QString& folder : rememberedFolders)
    if (IsFolder(folder)) return QDir::cleanPath(folder);
  return {};
}

std::optional<DerivedNames> DeriveOutputName(const QString& recordingPath, const QString& ending) {
  if (recordingPath.endsWith(QStringLiteral("zrx"), Qt::CaseInsensitive))
    return DerivedNames{recordingPath.chopped(3) + ending, true};
  if (recordingPath.endsWith(QStringLiteral("zr"), Qt::CaseInsensitive))
    return DerivedNames{recordingPath.chopped(2) + ending, false};
  return std::nullopt;
}

}  // namespace zentrova::app
