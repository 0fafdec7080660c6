#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>

namespace ferrow::ua {

// Where the endpoint keeps its own files: $XDG_DATA_HOME/quillon/ferrow ($HOME/.local/share when
// XDG_DATA_HOME is unset).
QString ferrowDataFolder();

// Replaces `path` with `contents` in one step: a temporary file in the same folder, created with `mode`
// from the start (so a key never exists readable by others, whatever the umask), flushed to disk and
// renamed over the old file. The folder is created when missing. On failure nothing changed and
// `error` says why.
bool writeFileAtomically(const QString& path, const QByteArray& contents, mode_t mode, QString* error);

// The whole file, or nothing when it cannot be read or is larger than `limit` bytes (files here are
// small; a huge one is not ours).
bool readSmallFile(const QString& path, qint64 limit, QByteArray& contents, QString* error);

}  // namespace ferrow::ua
