#include "platform/session_bus/reload_config.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>

namespace platform {

namespace {
// The session bus the environment names, or the user's bus socket; never an autolaunched bus.
QString sessionBusAddress() {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) return address;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))) return {};
    return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
}
}  // namespace

bool reloadSessionBusConfig(std::chrono::milliseconds limit) {
    const QString address = sessionBusAddress();
    if (address.isEmpty()) return false;
    // A connection of its own, closed again at once: the caller may use no bus at all otherwise.
    const QString name = QStringLiteral("quillon-reload-config");
    bool reloaded = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        if (bus.isConnected()) {
            const QDBusMessage request = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig"));
            const QDBusMessage reply = bus.call(request, QDBus::Block, static_cast<int>(limit.count()));
            reloaded = reply.type() == QDBusMessage::ReplyMessage;
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return reloaded;
}

}  // namespace platform
