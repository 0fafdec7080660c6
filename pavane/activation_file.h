#pragma once

#include <QString>

namespace pavane {

// The session bus starts Pavane as a component from a service activation file naming its executable.
QString activationFileText(const QString& executable);
// Where the user's own activation files live: $XDG_DATA_HOME/dbus-1/services (~/.local/share/...).
QString userActivationFilePath();
// Writes (or removes) the user's activation file for `executable` and has the running session bus read
// it at once. False with `error` on failure.
bool registerComponent(const QString& executable, QString* error = nullptr);
bool unregisterComponent(QString* error = nullptr);
// Every start registers, so that a fresh account can create the class before anyone ran --register:
// writes the file only when it is missing or names another executable. False when it can't.
bool refreshRegistration(const QString& executable);

}  // namespace pavane
