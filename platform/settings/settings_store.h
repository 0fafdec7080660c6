#pragma once

#include <QString>

namespace platform {

// The per-user settings store: one INI file per application title under $XDG_CONFIG_HOME/quillon/,
// sections as groups. Values are text.
void SaveSetting(const QString& appTitle, const QString& section, const QString& key, const QString& value);
QString GetSetting(const QString& appTitle, const QString& section, const QString& key,
                   const QString& defaultValue = {});
void DeleteSetting(const QString& appTitle, const QString& section, const QString& key);

// The folder that holds the settings and registry files.
QString settingsFolder();

}  // namespace platform
