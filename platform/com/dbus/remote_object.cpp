#include "platform/com/dbus/remote_object.h"

#include "platform/com/dbus/bus_node.h"

namespace platform::com::dbus {

HRESULT failureFromError(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.InvalidArgs")) return E_INVALIDARG;
    if (name == QLatin1String("org.freedesktop.DBus.Error.LimitsExceeded") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NoMemory"))
        return E_OUTOFMEMORY;
    // The object is gone, its process is gone, or it did not answer in time.
    return RPC_E_DISCONNECTED;
}

RemoteObject::RemoteObject(std::shared_ptr<BusNode> node, QString peer, QString path)
    : node_(std::move(node)),
      peer_(std::move(peer)),
      path_(std::move(path)),
      link_(std::make_unique<NodePeer>(*node_, peer_)) {}

RemoteObject::~RemoteObject() = default;

ULONG RemoteObject::AddRef() { return ++refs_; }

bool RemoteObject::tryAddRef() {
    ULONG count = refs_.load();
    while (count > 0)
        if (refs_.compare_exchange_weak(count, count + 1)) return true;
    return false;
}

ULONG RemoteObject::Release() {
    const ULONG left = --refs_;
    if (left == 0) {
        node_->forgetProxy(this);
        if (!departed_) node_->releaseRemote(peer_, path_);
        delete this;
    }
    return left;
}

IUnknown* RemoteObject::findFacet(const IID& iid) {
    std::lock_guard guard(lock_);
    for (auto& [table, facet] : facets_)
        if (table->iid == iid) return facet->pointer();
    return nullptr;
}

HRESULT RemoteObject::knownFacet(REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (iid == IID_IUnknown) {
        AddRef();
        *ppv = static_cast<IUnknown*>(this);
        return S_OK;
    }
    const InterfaceTable* table = tableFor(iid);
    if (!table || !table->makeFacet) return E_NOINTERFACE;
    IUnknown* pointer = nullptr;
    {
        std::lock_guard guard(lock_);
        for (auto& [known, facet] : facets_)
            if (known == table) pointer = facet->pointer();
        if (!pointer) {
            facets_.emplace_back(table, table->makeFacet(*this));
            pointer = facets_.back().second->pointer();
        }
    }
    AddRef();
    *ppv = pointer;
    return S_OK;
}

std::vector<const InterfaceTable*> RemoteObject::knownTables() {
    std::vector<const InterfaceTable*> tables;
    std::lock_guard guard(lock_);
    for (auto& [table, facet] : facets_) tables.push_back(table);
    return tables;
}

HRESULT RemoteObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) return knownFacet(riid, ppv);
    if (IUnknown* facet = findFacet(riid)) {
        AddRef();
        *ppv = facet;
        return S_OK;
    }
    if (!tableFor(riid)) return E_NOINTERFACE;
    if (departed_) return RPC_E_DISCONNECTED;
    QDBusMessage message =
        QDBusMessage::createMethodCall(peer_, path_, kUnknownInterface, QStringLiteral("QueryInterface"));
    message << QString::fromStdString(formatGuid(riid));
    const QDBusMessage reply = node_->connection().call(message, QDBus::Block, node_->callLimitMs());
    if (reply.type() != QDBusMessage::ReplyMessage) return failureFromError(reply);
    if (reply.signature() != QLatin1String("uo")) return RPC_X_BAD_STUB_DATA;
    const HRESULT result = static_cast<HRESULT>(reply.arguments().at(0).toUInt());
    if (FAILED(result)) return result;
    const QDBusObjectPath returned = qdbus_cast<QDBusObjectPath>(reply.arguments().at(1));
    if (returned.path() != path_) return node_->importObject(peer_, returned, riid, true, ppv);
    // The answer carried one more reference; this proxy already holds one.
    node_->releaseRemote(peer_, path_);
    return knownFacet(riid, ppv);
}

CallTarget RemoteObject::target(const QString& interface) {
    const bool reachable = !departed_;
    if (!reachable) node_->countWithheld();
    return {node_->connection(), peer_, path_, interface, link_.get(), node_->callLimitMs(), reachable};
}

}  // namespace platform::com::dbus
