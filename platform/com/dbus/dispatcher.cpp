#include "platform/com/dbus/dispatcher.h"

#include <QTimer>

#include "platform/com/dbus/bus_node.h"

namespace platform::com::dbus {

// Introspection is answered in handleMessage, with what the caller may see.
QString Dispatcher::introspect(const QString&) const { return {}; }

bool Dispatcher::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
    const std::shared_ptr<BusNode> node = node_.lock();
    if (!node) return false;
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Introspectable") &&
        message.member() == QLatin1String("Introspect"))
        node->serveIntrospect(message);
    else
        node->dispatch(message);
    return true;
}

void Dispatcher::nameOwnerChanged(const QString& name, const QString&, const QString& newOwner) {
    if (!newOwner.isEmpty() || !name.startsWith(QLatin1Char(':'))) return;
    const std::shared_ptr<BusNode> node = node_.lock();
    if (!node) return;
    node->callerGone(name);
    const auto grace = node->departedGrace();
    if (grace.count() <= 0) {
        node->releaseCaller(name);
        return;
    }
    // The timer dies with this object when the node stops (which gives everything back anyway).
    QTimer::singleShot(grace, this, [weak = node_, name] {
        if (const std::shared_ptr<BusNode> later = weak.lock()) later->releaseCaller(name);
    });
}

}  // namespace platform::com::dbus
