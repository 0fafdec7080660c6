#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Replaces the file at `path` with `contents` in one step: the bytes go to a temporary file in the same
// folder, which is renamed over the old file only when everything was written. On failure the old file
// is left as it was, and `error` (when given) says why.
bool writeFileAtomically(const QString& path, const QByteArray& contents, QString* error = nullptr);

}  // namespace platform
