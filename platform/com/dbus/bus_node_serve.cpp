#include "platform/com/class_table.h"
#include "platform/com/dbus/bus_node.h"
#include "platform/com/dbus/wire.h"

namespace platform::com::dbus {

namespace {
const QString kDBusService = QStringLiteral("org.freedesktop.DBus");
const QString kErrorUnknownObject = QStringLiteral("org.freedesktop.DBus.Error.UnknownObject");
const QString kErrorUnknownInterface = QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface");
const QString kErrorUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");
const QString kErrorInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString kErrorLimitsExceeded = QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded");
const QString kErrorNoMemory = QStringLiteral("org.freedesktop.DBus.Error.NoMemory");
const QString kErrorAccessDenied = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");

QVariant uintArg(HRESULT value) { return QVariant::fromValue(static_cast<uint>(value)); }
}  // namespace

void BusNode::replyError(const QDBusMessage& message, const QString& name, const QString& text) {
    if (message.isReplyRequired()) connection_.send(message.createErrorReply(name, text));
}

void BusNode::dispatch(const QDBusMessage& message) {
    {
        std::lock_guard guard(lock_);
        if (stopped_) {
            replyError(message, kErrorUnknownObject, QStringLiteral("No such object"));
            return;
        }
    }
    auto self = shared_from_this();
    switch (pool_.post(message.service(), [self, message] { self->serve(message); })) {
        case WorkerPool::Posted::Queued:
            break;
        case WorkerPool::Posted::QueueFull:
            replyError(message, kErrorLimitsExceeded, QStringLiteral("Too many calls of yours are waiting"));
            break;
        case WorkerPool::Posted::NoThread:
            replyError(message, kErrorNoMemory, QStringLiteral("No thread could be started for the call"));
            break;
        case WorkerPool::Posted::Stopped:
            replyError(message, kErrorUnknownObject, QStringLiteral("No such object"));
            break;
    }
}

void BusNode::serve(const QDBusMessage& message) {
    const std::shared_ptr<Entry> entry = find(message.path());
    if (!entry) {
        replyError(message, kErrorUnknownObject, QStringLiteral("No object at %1").arg(message.path()));
        return;
    }
    if (!mayCall(entry, message.service())) {
        replyError(message, kErrorAccessDenied, QStringLiteral("The object is not yours to call"));
        return;
    }
    const QString interface = message.interface();
    const QString member = message.member();
    if (interface.isEmpty()) {
        // A call without an interface goes where its name leads, and nowhere when it leads to several.
        int tables = unknownTable().find(member) ? 1 : 0;
        for (const Interface& i : entry->interfaces) tables += i.table->find(member) ? 1 : 0;
        if (tables > 1) {
            replyError(message, kErrorUnknownMethod,
                       QStringLiteral("%1 is a method of more than one interface here: name the interface")
                           .arg(member));
            return;
        }
    }
    if (interface == kUnknownInterface || (interface.isEmpty() && unknownTable().find(member))) {
        serveUnknown(entry, message);
        return;
    }
    const Interface* target = nullptr;
    const MethodEntry* method = nullptr;
    for (const Interface& i : entry->interfaces) {
        if (!interface.isEmpty() && i.table->dbusName() != interface) continue;
        target = &i;
        method = i.table->find(member);
        if (method || !interface.isEmpty()) break;
    }
    if (!target) {
        replyError(message, kErrorUnknownInterface,
                   QStringLiteral("The object does not offer %1").arg(interface));
        return;
    }
    if (!method) {
        replyError(message, kErrorUnknownMethod, QStringLiteral("No method %1").arg(member));
        return;
    }
    if (message.signature() != method->inSignature) {
        replyError(
            message, kErrorInvalidArgs,
            QStringLiteral("%1 takes (%2), not (%3)").arg(member, method->inSignature, message.signature()));
        return;
    }
    if (entry->classObject && target->table->iid == IID_IClassFactory &&
        member == QLatin1String("LockServer") && serveLockServer(entry, target->pointer.get(), message))
        return;
    if (options_.hooks && !method->oneWay) {
        options_.hooks->serve(std::make_shared<ServedCall>(shared_from_this(), message, entry->identity,
                                                           target->pointer, *target->table, *method));
        return;
    }
    NodePeer peer(*this, message.service());
    QVariantList out;
    method->serve(target->pointer.get(), message.arguments(), peer, out);
    if (method->oneWay) {
        if (message.isReplyRequired()) connection_.send(message.createReply());
        return;
    }
    connection_.send(message.createReply(out));
}

// A peer's locks on the class object are its own: an unlock without a lock of its own does nothing
// (so it cannot undo another peer's), and the locks of a peer that leaves are undone.
bool BusNode::serveLockServer(const std::shared_ptr<Entry>&, IUnknown* factory, const QDBusMessage& message) {
    const bool lock = message.arguments().at(0).toBool();
    const QString caller = message.service();
    {
        std::lock_guard guard(lock_);
        if (!lock) {
            auto c = callers_.find(caller);
            if (c == callers_.end() || c->serverLocks == 0) {
                connection_.send(message.createReply(QVariantList{uintArg(S_OK)}));
                return true;
            }
            --c->serverLocks;
            if (c->objects.empty() && c->serverLocks == 0) callers_.erase(c);
        } else if (goneLocked(caller)) {
            connection_.send(message.createReply(QVariantList{uintArg(S_OK)}));
            return true;
        } else {
            ++callers_[caller].serverLocks;
        }
    }
    const HRESULT result = static_cast<IClassFactory*>(factory)->LockServer(lock ? 1 : 0);
    if (FAILED(result) && lock) {
        std::lock_guard guard(lock_);
        if (auto c = callers_.find(caller); c != callers_.end() && c->serverLocks) --c->serverLocks;
    }
    connection_.send(message.createReply(QVariantList{uintArg(result)}));
    return true;
}

void BusNode::serveUnknown(const std::shared_ptr<Entry>& entry, const QDBusMessage& message) {
    const QString member = message.member();
    const MethodEntry* method = unknownTable().find(member);
    if (!method) {
        replyError(message, kErrorUnknownMethod, QStringLiteral("No method %1").arg(member));
        return;
    }
    if (message.signature() != method->inSignature) {
        replyError(message, kErrorInvalidArgs,
                   QStringLiteral("%1 takes (%2)").arg(member, method->inSignature));
        return;
    }
    const QString caller = message.service();
    std::vector<std::shared_ptr<Entry>> dropped;
    QVariantList out;
    if (member == QLatin1String("QueryInterface")) {
        const std::optional<GUID> iid = parseGuid(message.arguments().at(0).toString().toStdString());
        bool offered = iid && *iid == IID_IUnknown;
        for (const Interface& i : entry->interfaces) offered = offered || (iid && i.table->iid == *iid);
        bool kept = false;
        if (offered) {
            std::lock_guard guard(lock_);
            kept = !stopped_ && (entry->classObject || objects_.count(entry->number)) &&
                   addRefLocked(entry, caller);
        }
        const HRESULT result = !iid      ? E_INVALIDARG
                               : offered ? (kept ? S_OK : RPC_E_DISCONNECTED)
                                         : E_NOINTERFACE;
        out << uintArg(result)
            << QVariant::fromValue(QDBusObjectPath(SUCCEEDED(result) ? entry->path : kNullPath));
    } else if (member == QLatin1String("AddRef")) {
        std::lock_guard guard(lock_);
        quint32 count = 0;
        if (!stopped_ && (entry->classObject || objects_.count(entry->number)) && addRefLocked(entry, caller))
            count = entry->refs.value(caller);
        out << QVariant::fromValue(uint{count});
    } else {
        std::lock_guard guard(lock_);
        out << QVariant::fromValue(uint{entry->classObject ? 0u : releaseLocked(entry, caller, &dropped)});
    }
    connection_.send(message.createReply(out));
}

void BusNode::serveIntrospect(const QDBusMessage& message) {
    const QString path = message.path();
    const QString caller = message.service();
    QString inside;
    if (path == kObjectRoot) {
        inside = QStringLiteral("  <node name=\"ClassObject\"/>\n  <node name=\"obj\"/>\n");
    } else if (path + QLatin1Char('/') == kObjectPathPrefix) {
        // A caller sees its own objects, never those handed to others.
        std::lock_guard guard(lock_);
        for (const auto& [number, entry] : objects_)
            if (entry->refs.contains(caller)) inside += QStringLiteral("  <node name=\"%1\"/>\n").arg(number);
    } else {
        const std::shared_ptr<Entry> entry = find(path);
        if (!entry) {
            replyError(message, kErrorUnknownObject, QStringLiteral("No object at %1").arg(path));
            return;
        }
        if (!mayCall(entry, caller)) {
            replyError(message, kErrorAccessDenied, QStringLiteral("The object is not yours to call"));
            return;
        }
        inside = unknownTable().introspection();
        for (const Interface& i : entry->interfaces) inside += i.table->introspection();
    }
    // What the connection answers on every path besides: no Properties, which nothing here answers.
    static const QString standard = QStringLiteral(
        "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n"
        "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n    <method name=\"Introspect\">\n"
        "      <arg name=\"xml_data\" type=\"s\" direction=\"out\"/>\n    </method>\n  </interface>\n"
        "  <interface name=\"org.freedesktop.DBus.Peer\">\n    <method name=\"Ping\"/>\n"
        "    <method name=\"GetMachineId\">\n      <arg name=\"machine_uuid\" type=\"s\" "
        "direction=\"out\"/>\n"
        "    </method>\n  </interface>\n");
    connection_.send(message.createReply(QVariant(standard + inside + QStringLiteral("</node>\n"))));
}

bool BusNode::mayCall(const std::shared_ptr<Entry>& entry, const QString& caller) {
    if (!options_.onlyHolders || entry->classObject) return true;
    std::lock_guard guard(lock_);
    return entry->refs.contains(caller);
}

}  // namespace platform::com::dbus
