#include "platform/settings/settings_store.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace platform {

namespace {
QString settingsFile(const QString& appTitle) {
    QString name = appTitle.isEmpty() ? QStringLiteral("default") : appTitle;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return settingsFolder() + QLatin1Char('/') + name + QStringLiteral(".ini");
}

// QSettings treats '/' and '\' in keys as group separators; section and key are single names here.
QString settingKey(const QString& section, const QString& key) {
    QString s = section, k = key;
    s.replace(QLatin1Char('/'), QLatin1Char('_'));
    k.replace(QLatin1Char('/'), QLatin1Char('_'));
    return s + QLatin1Char('/') + k;
}
}  // namespace

QString settingsFolder() {
    // Read the environment each time so that a test may point it elsewhere before its first use.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/quillon");
}

void SaveSetting(const QString& appTitle, const QString& section, const QString& key, const QString& value) {
    QDir().mkpath(settingsFolder());
    QSettings settings(settingsFile(appTitle), QSettings::IniFormat);
    settings.setValue(settingKey(section, key), value);
    settings.sync();
}

QString GetSetting(const QString& appTitle, const QString& section, const QString& key,
                   const QString& defaultValue) {
    QSettings settings(settingsFile(appTitle), QSettings::IniFormat);
    const QVariant value = settings.value(settingKey(section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

void DeleteSetting(const QString& appTitle, const QString& section, const QString& key) {
    QSettings settings(settingsFile(appTitle), QSettings::IniFormat);
    settings.remove(settingKey(section, key));
    settings.sync();
}

}  // namespace platform
