#include "app/BrowseRules.h"

#include <QDir>
#include <QFileInfo>

namespace zentrova::app {
namespace {

const QString kZrFilter = QStringLiteral("Video files(*.zr)");
const QString kZrxFilter = QStringLiteral("Video files(*.zrx)");

bool IsFolder(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

}  // namespace

BrowseRequest BrowseRequestFor(bool preferZrx) {
  if (preferZrx) return {{kZrxFilter, kZrFilter}, QStringLiteral("zrx"), {}};
  return {{kZrFilter, kZrxFilter}, QStringLiteral("zr"), {}};
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

std::optional<DerivedNames> DeriveOutputName(const QString& recordingPath) {
  if (recordingPath.endsWith(QStringLiteral("zrx"), Qt::CaseSensitive))
    return DerivedNames{recordingPath.chopped(3) + QStringLiteral("avi"), true};
  if (recordingPath.endsWith(QStringLiteral("zr"), Qt::CaseSensitive))
    return DerivedNames{recordingPath.chopped(2) + QStringLiteral("avi"), false};
  return std::nullopt;
}

}  // namespace zentrova::app
