#include "vantor/files/pc_paths.h"

#include <QDir>

#include "vantor/common/m_globals.h"

namespace vantor::files {

using MGlobals::FileNamePart;
using MGlobals::FolderPart;
using MGlobals::PathKind;

bool isWildcardSource(const QString& source) { return source.contains(QLatin1Char('*')); }

QStringList filesMatching(const QString& pattern) {
    const QString folder = FolderPart(pattern, PathKind::Pc);
    QString name = FileNamePart(pattern, PathKind::Pc);
    if (name == QLatin1String("*.*")) name = QStringLiteral("*");
    QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    return dir.entryList({name}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

std::optional<QString> downloadTarget(const QString& destination, const QString& deviceSource) {
    QString name = FileNamePart(destination, PathKind::Pc);
    if (name.isEmpty()) {
        // A device name may hold "/" (a plain character there); only its last part can name a PC file.
        name = FileNamePart(FileNamePart(deviceSource, PathKind::Device), PathKind::Pc);
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return std::nullopt;
    return FolderPart(destination, PathKind::Pc) + name;
}

}  // namespace vantor::files
