#pragma once
// What Browse offers and what it makes of the chosen file: the recordings' filter (both endings in
// any case) and "All files", the folder the file dialog starts in, and the output name derived
// from a recording's path.
#include <QString>
#include <QStringList>
#include <optional>

namespace zentrova::app {

struct BrowseRequest {
  QStringList filters;    // the first one is selected when the file dialog opens
  QString defaultSuffix;  // appended to a name typed without an extension
  QString startFolder;    // empty: the file dialog's own choice
};

// The default suffix is "zrx" when the last recording chosen ended in "zrx".
BrowseRequest BrowseRequestFor(bool preferZrx);

// Where Browse opens: the folder of the name in the input field when that folder exists, else
// the first of the remembered folders (the last recording's, then the last output's) that still
// exists; empty when none does.
QString BrowseStartFolder(const QString& inputName, const QStringList& rememberedFolders);

struct DerivedNames {
  QString outputName;
  bool preferZrx = false;
};

// A path ending in "zrx" or "zr" (in any case, no dot needed) gives the same path ending in
// `ending` ("avi", or "mkv" or "mp4" when the output was one) instead; any other ending gives
// nothing, and the output name and preference stay as they were.
std::optional<DerivedNames> DeriveOutputName(const QString& recordingPath, const QString& ending = QStringLiteral("avi"));

}  // namespace zentrova::app
