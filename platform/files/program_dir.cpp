#include "platform/files/program_dir.h"

#include <QCoreApplication>
#include <QDir>

namespace platform {

QString programDir() {
    const QByteArray overridden = qgetenv("QUILLON_PROGRAM_DIR");
    if (!overridden.isEmpty()) return QDir::cleanPath(QString::fromLocal8Bit(overridden));
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

QString programFile(const QString& fileName) { return programDir() + QLatin1Char('/') + fileName; }

}  // namespace platform
