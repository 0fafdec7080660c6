#include "devsim/device_files.h"

#include <QDir>
#include <QFile>

namespace devsim {

DeviceFiles::DeviceFiles(QString root) : root_(QDir(root).absolutePath()) {}

std::optional<QString> DeviceFiles::hostPath(const QString& devicePath) const {
    QString path = devicePath;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    QString current = root_;
    for (const QString& segment : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String(".")) continue;
        if (segment == QLatin1String("..") || segment.contains(QChar(0)) ||
            segment.contains(QLatin1Char(':')))
            return std::nullopt;
        QString name = segment;
        const QDir dir(current);
        if (dir.exists()) {
            for (const QString& entry :
                 dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
                if (entry.compare(segment, Qt::CaseInsensitive) == 0) {
                    name = entry;
                    break;
                }
            }
        }
        current += QLatin1Char('/') + name;
    }
    return current;
}

bool DeviceFiles::seed(const QString& root, QString* error) {
    QDir dir(root);
    const QStringList folders = {QStringLiteral("Windows"), QStringLiteral("Temp"),
                                 QString::fromLatin1(kFlashFolder),
                                 QString::fromLatin1(kFlashFolder) + QStringLiteral("/Config")};
    for (const QString& folder : folders) {
        if (!dir.mkpath(folder)) {
            if (error) *error = QStringLiteral("cannot create %1/%2").arg(root, folder);
            return false;
        }
    }
    const QList<QPair<QString, QByteArray>> files = {
        {QStringLiteral("Readme.txt"), "Quillon 2000 simulated device\r\n"},
        {QStringLiteral("Windows/Startup.txt"), "rem programs started at boot\r\n"},
        {QString::fromLatin1(kFlashFolder) + QStringLiteral("/Config/Network.ini"),
         "[Network]\r\nDHCP=0\r\n"},
        {QString::fromLatin1(kFlashFolder) + QStringLiteral("/Autostart.bat"), "rem nothing to start\r\n"},
    };
    for (const auto& [name, contents] : files) {
        QFile file(dir.filePath(name));
        if (file.exists()) continue;
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
            if (error) *error = QStringLiteral("cannot write %1").arg(file.fileName());
            return false;
        }
    }
    return true;
}

}  // namespace devsim
