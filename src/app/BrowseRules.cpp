#include "app/BrowseRules.h"

namespace zentrova::app {
namespace {

const QString kZrFilter = QStringLiteral("Video files(*.zr)");
const QString kZrxFilter = QStringLiteral("Video files(*.zrx)");

}  // namespace

BrowseRequest BrowseRequestFor(bool preferZrx) {
  if (preferZrx) return {{kZrxFilter, kZrFilter}, QStringLiteral("zrx")};
  return {{kZrFilter, kZrxFilter}, QStringLiteral("zr")};
}

std::optional<DerivedNames> DeriveOutputName(const QString& recordingPath) {
  if (recordingPath.endsWith(QStringLiteral("zrx"), Qt::CaseSensitive))
    return DerivedNames{recordingPath.chopped(3) + QStringLiteral("avi"), true};
  if (recordingPath.endsWith(QStringLiteral("zr"), Qt::CaseSensitive))
    return DerivedNames{recordingPath.chopped(2) + QStringLiteral("avi"), false};
  return std::nullopt;
}

}  // namespace zentrova::app
