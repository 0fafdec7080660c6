#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantList>
#include <functional>
#include <memory>

#include "platform/com/com_ptr.h"
#include "platform/com/dbus/interface_table.h"

namespace platform::com::dbus {

class BusNode;

// One call from the bus to a COM method that a node's CallHooks serve: what was called, by whom, and the
// means to run it (whole or in parts), to give the worker back between parts and to answer. Owned by
// whoever holds it (the hooks, the continuations they queue); made and first used on a worker, then used
// on whichever worker runs its continuations, one at a time. Answered with an error if dropped unanswered.
class ServedCall : public std::enable_shared_from_this<ServedCall> {
  public:
    ServedCall(std::shared_ptr<BusNode> node, QDBusMessage message, ComPtr<IUnknown> identity,
               ComPtr<IUnknown> target, const InterfaceTable& table, const MethodEntry& method);
    ~ServedCall();
    ServedCall(const ServedCall&) = delete;
    ServedCall& operator=(const ServedCall&) = delete;

    const QString& caller() const { return caller_; }
    // The called object's identity, alive as long as the call.
    IUnknown* identity() const { return identity_.get(); }
    const IID& iid() const { return table_.iid; }
    const QString& member() const { return method_.name; }
    const QVariantList& arguments() const { return arguments_; }

    // Runs the method on the object with `in` (the call's own arguments, or a part of them of the same
    // signature) as the caller; the answer as it would travel.
    QVariantList run(const QVariantList& in);
    // The object exported at `path` (a path an answer carries), with a reference; null if none is there.
    ComPtr<IUnknown> objectAt(const QDBusObjectPath& path);
    // Runs `next` in the caller's next turn, after the other callers waiting have had theirs.
    void resume(std::function<void()> next);
    // Sends the answer; the call is over.
    void reply(const QVariantList& out);

  private:
    std::shared_ptr<BusNode> node_;
    QDBusMessage message_;
    QVariantList arguments_;
    QString caller_;
    ComPtr<IUnknown> identity_;
    ComPtr<IUnknown> target_;
    const InterfaceTable& table_;
    const MethodEntry& method_;
    bool answered_ = false;
};

// What a server adds to the serving of its objects' methods (limits, calls done in parts). Set on a
// node before it serves; called on the node's workers, any number at once.
class CallHooks {
  public:
    virtual ~CallHooks() = default;
    // Serves a call of a method with an answer; `call->reply` at once or from a continuation.
    virtual void serve(const std::shared_ptr<ServedCall>& call) = 0;
    // An object went onto the bus / left it (nobody holds it any more, or it was disconnected). Called
    // under the node's lock: record and return, call nothing.
    virtual void objectExported(IUnknown* /*identity*/) {}
    virtual void objectLeft(IUnknown* /*identity*/) {}
};

}  // namespace platform::com::dbus
