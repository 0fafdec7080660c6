#include "platform/com/dbus/dispatcher.h"

#include <QTimer>

#include "platform/com/dbus/bus_node.h"

namespace platform::com::dbus {

QString Dispatcher::introspect(const QString& path) const {
    const std::shared_ptr<BusNode> node = node_.lock();
    return node ? node->introspect(path) : QString();
}

bool Dispatcher::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
    // Introspection is answered by Qt from introspect() above.
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Introspectable")) return false;
    const std::shared_ptr<BusNode> node = node_.lock();
    if (!node) return false;
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
