#pragma once

#include <QString>

namespace platform {
class RegistryStore;
}

namespace ferrow {

// Ferrow's registration as a local COM server: the registry script, the two OPC component categories
// and the session bus's activation file. Runs on the start-up thread; shows nothing, whatever happens.

// The script text with the variable %MODULE% (the executable's absolute path) still in it. LocalServer32's
// value BusName is the session-bus name clients reach Ferrow at.
const QString& ferrowRegistryScript();

// The script, the categories with their descriptions (locale 409) and the class's place in them, then
// the activation file. A failing step ends the registration at once, except that a category which could
// not be registered is only left out of the class's implemented categories when it is the first.
bool RegisterServer(const QString& modulePath, platform::RegistryStore& store);
// Removes what RegisterServer wrote, except the parent keys CLSID and AppID and the categories
// themselves (other servers belong to them too).
bool UnregisterServer(const QString& modulePath, platform::RegistryStore& store);

// $XDG_DATA_HOME/dbus-1/services/org.quillon.Ferrow.service ($HOME/.local/share when XDG_DATA_HOME is unset).
QString activationFilePath();
// Its contents: the bus name and the command that starts Ferrow as COM would.
QString activationFileText(const QString& modulePath);

}  // namespace ferrow
