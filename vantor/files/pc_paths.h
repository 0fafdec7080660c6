#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace vantor::files {

// A PC source names several files when it holds a "*" ("?" alone names one file, taken literally).
bool isWildcardSource(const QString& source);

// The regular files of the pattern's folder whose names match its file part, sorted by name; a file
// part "*.*" means every file, with or without a dot.
QStringList filesMatching(const QString& pattern);

// The PC file a download writes: `destination`'s folder plus its file name, or, when it names only a
// folder, the last name of the device source. Nothing when that name could lead out of the folder or
// is no name at all ("", ".", "..").
std::optional<QString> downloadTarget(const QString& destination, const QString& deviceSource);

}  // namespace vantor::files
