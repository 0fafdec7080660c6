#include "platform/com/dbus/served_call.h"

#include "platform/com/dbus/bus_node.h"

namespace platform::com::dbus {

ServedCall::ServedCall(std::shared_ptr<BusNode> node, QDBusMessage message, ComPtr<IUnknown> identity,
                       ComPtr<IUnknown> target, const InterfaceTable& table, const MethodEntry& method)
    : node_(std::move(node)),
      message_(std::move(message)),
      arguments_(message_.arguments()),
      caller_(message_.service()),
      identity_(std::move(identity)),
      target_(std::move(target)),
      table_(table),
      method_(method) {}

ServedCall::~ServedCall() {
    if (!answered_ && message_.isReplyRequired())
        node_->connection().send(
            message_.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                      QStringLiteral("The call was dropped unanswered")));
}

QVariantList ServedCall::run(const QVariantList& in) {
    NodePeer peer(*node_, caller_);
    QVariantList out;
    method_.serve(target_.get(), in, peer, out);
    return out;
}

ComPtr<IUnknown> ServedCall::objectAt(const QDBusObjectPath& path) {
    return ComPtr<IUnknown>::adopt(node_->exportedObject(path.path()));
}

void ServedCall::resume(std::function<void()> next) {
    // Once the node has stopped serving, what is left of the call runs here: it must still be answered.
    if (!node_->resume(caller_, [self = shared_from_this(), next] { next(); })) next();
}

void ServedCall::reply(const QVariantList& out) {
    if (answered_) return;
    answered_ = true;
    node_->connection().send(message_.createReply(out));
}

}  // namespace platform::com::dbus
