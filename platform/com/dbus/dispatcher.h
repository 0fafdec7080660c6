#pragma once

#include <QDBusVirtualObject>
#include <memory>

namespace platform::com::dbus {

class BusNode;

// Receives the calls to the node's object tree and the bus's NameOwnerChanged on the node's own
// thread, and hands them to the node at once: nothing here runs a COM method.
class Dispatcher : public QDBusVirtualObject {
    Q_OBJECT
  public:
    explicit Dispatcher(std::weak_ptr<BusNode> node) : node_(std::move(node)) {}

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  public Q_SLOTS:
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

  private:
    std::weak_ptr<BusNode> node_;
};

}  // namespace platform::com::dbus
