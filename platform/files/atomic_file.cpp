#include "platform/files/atomic_file.h"

#include <QFileInfo>
#include <QSaveFile>

namespace platform {

bool writeFileAtomically(const QString& path, const QByteArray& contents, QString* error) {
    // A file the user has write-protected stays protected, although a rename could replace it.
    const QFileInfo existing(path);
    if (existing.exists() && (!existing.isFile() || !existing.isWritable())) {
        if (error) *error = QStringLiteral("%1 is write protected").arg(path);
        return false;
    }
    QSaveFile file(path);
    // Without this, QSaveFile falls back to writing in place when the folder refuses a new file.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    if (file.write(contents) != contents.size()) {
        if (error) *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace platform
