#include "pavane/activation_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "pavane/automation.h"
#include "platform/files/atomic_file.h"
#include "platform/session_bus/reload_config.h"

namespace pavane {

QString activationFileText(const QString& executable) {
    QString exec = executable;
    if (exec.contains(QLatin1Char(' '))) exec = QLatin1Char('"') + exec + QLatin1Char('"');
    return QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2 --component\n")
        .arg(QString::fromLatin1(kServiceName), exec);
}

QString userActivationFilePath() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/dbus-1/services/") + QString::fromLatin1(kServiceName) +
           QStringLiteral(".service");
}

bool registerComponent(const QString& executable, QString* error) {
    const QString path = userActivationFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error) *error = QStringLiteral("cannot create the folder of ") + path;
        return false;
    }
    if (!platform::writeFileAtomically(path, activationFileText(executable).toUtf8(), error)) return false;
    // The running bus may not watch a services folder made after it started: it is told at once.
    platform::reloadSessionBusConfig();
    return true;
}

bool refreshRegistration(const QString& executable) {
    QFile current(userActivationFilePath());
    if (current.open(QIODevice::ReadOnly) && current.readAll() == activationFileText(executable).toUtf8())
        return true;
    return registerComponent(executable);
}

bool unregisterComponent(QString* error) {
    QFile file(userActivationFilePath());
    if (!file.exists()) return true;
    if (file.remove()) {
        platform::reloadSessionBusConfig();
        return true;
    }
    if (error) *error = file.errorString();
    return false;
}

}  // namespace pavane
