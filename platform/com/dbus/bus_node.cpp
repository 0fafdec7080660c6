#include "platform/com/dbus/bus_node.h"

#include <QDBusMetaType>
#include <QThread>
#include <algorithm>

#include "platform/com/class_table.h"
#include "platform/com/dbus/dispatcher.h"
#include "platform/com/dbus/remote_object.h"
#include "platform/com/dbus/wire.h"

namespace platform::com::dbus {

namespace {
const QString kDBusService = QStringLiteral("org.freedesktop.DBus");

// Every live node, for CoDisconnectObject.
struct Nodes {
    std::mutex lock;
    std::vector<std::weak_ptr<BusNode>> list;
};
Nodes& nodes() {
    static Nodes instance;
    return instance;
}

void unexportEverywhere(IUnknown* identity) {
    std::vector<std::shared_ptr<BusNode>> live;
    {
        Nodes& n = nodes();
        std::lock_guard guard(n.lock);
        std::erase_if(n.list, [](const std::weak_ptr<BusNode>& w) { return w.expired(); });
        for (const auto& w : n.list)
            if (auto node = w.lock()) live.push_back(std::move(node));
    }
    for (const auto& node : live) node->unexport(identity);
}
}  // namespace

QDBusObjectPath NodePeer::exportObject(IUnknown* object) { return node_.exportFor(object, name_); }

HRESULT NodePeer::importObject(const QDBusObjectPath& path, REFIID iid, bool known, void** ppv) {
    return node_.importObject(name_, path, iid, known, ppv);
}

QDBusObjectPath NodePeer::pathBack(IUnknown* object) {
    auto* remote = dynamic_cast<RemoteObject*>(object);
    if (!remote) {
        ComPtr<IUnknown> identity;
        if (object && SUCCEEDED(object->QueryInterface(IID_IUnknown, identity.putVoid())))
            remote = dynamic_cast<RemoteObject*>(identity.get());
    }
    return QDBusObjectPath(remote && remote->peer() == name_ ? remote->path() : kNullPath);
}

IUnknown* NodePeer::ownObject(const QDBusObjectPath& path) { return node_.heldObject(path.path(), name_); }

BusNode::BusNode(const QDBusConnection& connection, Options options)
    : connection_(connection),
      options_(options),
      pool_({options.maxWorkers, options.callerShare, options.maxQueuedPerCaller}, options.threadStarter) {
    // Called by the pool while it runs, and the pool stops before the node's members go.
    pool_.setIdleHandler([this](const QString& caller) { pruneDeparted(caller); });
}

BusNode::~BusNode() { stop(); }

std::shared_ptr<BusNode> BusNode::start(const QDBusConnection& connection, Options options) {
    registerWireTypes();
    if (!connection.isConnected()) return nullptr;
    std::shared_ptr<BusNode> node(new BusNode(connection, options));
    node->dispatcher_ = new Dispatcher(node);
    QDBusConnection c = connection;
    // Before any object is handed out, so that no peer can leave unseen while it holds one.
    c.connect(kDBusService, QStringLiteral("/org/freedesktop/DBus"), kDBusService,
              QStringLiteral("NameOwnerChanged"), node->dispatcher_,
              SLOT(nameOwnerChanged(QString, QString, QString)));
    const bool registered = c.registerVirtualObject(kObjectRoot, node->dispatcher_, QDBusConnection::SubPath);
    // Wired up here, then handed to the node's own thread with what Qt attached to it.
    node->thread_ = new QThread;
    node->thread_->setObjectName(QStringLiteral("com-bus"));
    node->dispatcher_->moveToThread(node->thread_);
    node->thread_->start();
    if (!registered) {
        node->stop();
        return nullptr;
    }
    {
        Nodes& n = nodes();
        std::lock_guard guard(n.lock);
        n.list.push_back(node);
    }
    setDisconnectHook(&unexportEverywhere);
    return node;
}

void BusNode::stop() {
    {
        std::lock_guard guard(lock_);
        if (stopped_) return;
        stopped_ = true;
    }
    if (dispatcher_) {
        QDBusConnection c = connection_;
        c.unregisterObject(kObjectRoot, QDBusConnection::UnregisterTree);
        c.disconnect(kDBusService, QStringLiteral("/org/freedesktop/DBus"), kDBusService,
                     QStringLiteral("NameOwnerChanged"), dispatcher_,
                     SLOT(nameOwnerChanged(QString, QString, QString)));
    }
    if (thread_) {
        thread_->quit();
        thread_->wait();
    }
    delete dispatcher_;
    dispatcher_ = nullptr;
    delete thread_;
    thread_ = nullptr;
    pool_.stop();

    // Everything still handed out goes back; class-object locks of peers are undone.
    std::shared_ptr<Entry> classEntry;
    std::map<quint64, std::shared_ptr<Entry>> objects;
    quint32 locks = 0;
    {
        std::lock_guard guard(lock_);
        for (const Caller& caller : std::as_const(callers_)) locks += caller.serverLocks;
        callers_.clear();
        objects.swap(objects_);
        byIdentity_.clear();
        classEntry.swap(classEntry_);
    }
    if (classEntry)
        for (const Interface& i : classEntry->interfaces)
            if (i.table->iid == IID_IClassFactory)
                for (quint32 k = 0; k < locks; ++k)
                    static_cast<IClassFactory*>(i.pointer.get())->LockServer(0);
}

void BusNode::setClassObject(IUnknown* classObject) {
    std::shared_ptr<Entry> entry;
    if (classObject) {
        entry = std::make_shared<Entry>();
        entry->path = kClassObjectPath;
        entry->classObject = true;
        classObject->QueryInterface(IID_IUnknown, entry->identity.putVoid());
        entry->interfaces = interfacesOf(entry->identity.get());
    }
    std::lock_guard guard(lock_);
    if (!stopped_) classEntry_.swap(entry);
}

std::vector<BusNode::Interface> BusNode::interfacesOf(IUnknown* identity) {
    std::vector<Interface> found;
    if (!identity) return found;
    // A proxy offers what its peer confirmed; asking it about every table would be a call each.
    if (auto* remote = dynamic_cast<RemoteObject*>(identity)) {
        for (const InterfaceTable* table : remote->knownTables()) {
            void* p = nullptr;
            if (SUCCEEDED(remote->knownFacet(table->iid, &p)))
                found.push_back({table, ComPtr<IUnknown>::adopt(static_cast<IUnknown*>(p))});
        }
        return found;
    }
    for (const InterfaceTable* table : registeredTables()) {
        void* p = nullptr;
        if (SUCCEEDED(identity->QueryInterface(table->iid, &p)) && p)
            found.push_back({table, ComPtr<IUnknown>::adopt(static_cast<IUnknown*>(p))});
    }
    return found;
}

QDBusObjectPath BusNode::exportFor(IUnknown* object, const QString& caller) {
    const QDBusObjectPath null(kNullPath);
    if (!object) return null;
    ComPtr<IUnknown> identity;
    if (FAILED(object->QueryInterface(IID_IUnknown, identity.putVoid())) || !identity) return null;
    std::vector<std::shared_ptr<Entry>> dropped;
    {
        std::lock_guard guard(lock_);
        if (stopped_) return null;
        if (classEntry_ && classEntry_->identity.get() == identity.get())
            return QDBusObjectPath(classEntry_->path);
        if (auto it = byIdentity_.find(identity.get()); it != byIdentity_.end()) {
            const std::shared_ptr<Entry> entry = objects_[it->second];
            addRefLocked(entry, caller);
            return QDBusObjectPath(entry->path);
        }
    }
    std::vector<Interface> interfaces = interfacesOf(identity.get());
    std::lock_guard guard(lock_);
    if (stopped_) return null;
    if (auto it = byIdentity_.find(identity.get()); it != byIdentity_.end()) {
        const std::shared_ptr<Entry> entry = objects_[it->second];
        addRefLocked(entry, caller);
        return QDBusObjectPath(entry->path);
    }
    auto entry = std::make_shared<Entry>();
    entry->number = nextNumber_++;
    entry->path = kObjectPathPrefix + QString::number(entry->number);
    entry->identity = identity;
    entry->interfaces = std::move(interfaces);
    objects_[entry->number] = entry;
    byIdentity_[identity.get()] = entry->number;
    if (options_.hooks) options_.hooks->objectExported(identity.get());
    if (!addRefLocked(entry, caller)) {
        removeLocked(entry);
        dropped.push_back(entry);
    }
    return QDBusObjectPath(entry->path);
}

IUnknown* BusNode::heldObject(const QString& path, const QString& holder) {
    const std::shared_ptr<Entry> entry = find(path);
    std::lock_guard guard(lock_);
    if (!entry || entry->classObject || !entry->refs.contains(holder)) return nullptr;
    entry->identity->AddRef();
    return entry->identity.get();
}

IUnknown* BusNode::exportedObject(const QString& path) {
    const std::shared_ptr<Entry> entry = find(path);
    if (!entry) return nullptr;
    entry->identity->AddRef();
    return entry->identity.get();
}

void BusNode::unexport(IUnknown* identity) {
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard guard(lock_);
        if (classEntry_ && classEntry_->identity.get() == identity) {
            entry.swap(classEntry_);
        } else if (auto it = byIdentity_.find(identity); it != byIdentity_.end()) {
            entry = objects_[it->second];
            removeLocked(entry);
        }
    }
}

bool BusNode::goneLocked(const QString& caller) const { return departed_.contains(caller); }

bool BusNode::addRefLocked(const std::shared_ptr<Entry>& entry, const QString& caller) {
    if (entry->classObject) return true;
    if (goneLocked(caller)) return false;
    ++entry->refs[caller];
    ++entry->total;
    callers_[caller].objects.insert(entry->number);
    return true;
}

quint32 BusNode::releaseLocked(const std::shared_ptr<Entry>& entry, const QString& caller,
                               std::vector<std::shared_ptr<Entry>>* dropped) {
    auto it = entry->refs.find(caller);
    if (it == entry->refs.end()) return 0;
    const quint32 left = --it.value();
    --entry->total;
    if (left == 0) {
        entry->refs.erase(it);
        if (auto c = callers_.find(caller); c != callers_.end()) {
            c->objects.erase(entry->number);
            if (c->objects.empty() && c->serverLocks == 0) callers_.erase(c);
        }
    }
    if (entry->total == 0) {
        removeLocked(entry);
        dropped->push_back(entry);
    }
    return left;
}

void BusNode::removeLocked(const std::shared_ptr<Entry>& entry) {
    if (options_.hooks && objects_.count(entry->number)) options_.hooks->objectLeft(entry->identity.get());
    objects_.erase(entry->number);
    byIdentity_.erase(entry->identity.get());
    for (auto it = entry->refs.cbegin(); it != entry->refs.cend(); ++it) {
        if (auto c = callers_.find(it.key()); c != callers_.end()) {
            c->objects.erase(entry->number);
            if (c->objects.empty() && c->serverLocks == 0) callers_.erase(c);
        }
    }
    entry->refs.clear();
    entry->total = 0;
}

void BusNode::callerGone(const QString& name) {
    {
        std::lock_guard guard(lock_);
        departed_.left(name);
    }
    // Nothing more is sent to it: its sinks are called back no more, from now on.
    std::lock_guard guard(proxiesLock_);
    for (const auto& [key, proxy] : proxies_)
        if (key.first == name) proxy->markDeparted();
}

bool BusNode::departed(const QString& name) {
    std::lock_guard guard(lock_);
    return departed_.contains(name);
}

void BusNode::pruneDeparted(const QString& name) {
    if (!departed(name)) return;
    bool proxies = false;
    {
        std::lock_guard guard(proxiesLock_);
        for (const auto& [key, proxy] : proxies_) proxies = proxies || key.first == name;
    }
    const bool calls = pool_.pending(name) > 0;
    std::lock_guard guard(lock_);
    departed_.forgetIfDone(name, proxies || calls);
}

std::size_t BusNode::departedCount() {
    std::lock_guard guard(lock_);
    return departed_.size();
}

void BusNode::releaseCaller(const QString& name) {
    auto self = shared_from_this();
    pool_.postAlways([self, name] {
        std::vector<std::shared_ptr<Entry>> dropped;
        ComPtr<IUnknown> factory;
        quint32 locks = 0;
        {
            std::lock_guard guard(self->lock_);
            const Caller state = self->callers_.take(name);
            for (quint64 number : state.objects) {
                auto it = self->objects_.find(number);
                if (it == self->objects_.end()) continue;
                const std::shared_ptr<Entry> entry = it->second;
                entry->total -= entry->refs.take(name);
                if (entry->total == 0) {
                    self->removeLocked(entry);
                    dropped.push_back(entry);
                }
            }
            locks = state.serverLocks;
            if (locks && self->classEntry_)
                for (const Interface& i : self->classEntry_->interfaces)
                    if (i.table->iid == IID_IClassFactory) factory = i.pointer;
        }
        // The references go (and objects may be destroyed) outside the lock.
        if (factory)
            for (quint32 k = 0; k < locks; ++k) static_cast<IClassFactory*>(factory.get())->LockServer(0);
        {
            std::lock_guard guard(self->lock_);
            self->departed_.released(name);
        }
        self->pruneDeparted(name);
    });
}

std::shared_ptr<BusNode::Entry> BusNode::find(const QString& path) {
    std::lock_guard guard(lock_);
    if (stopped_) return nullptr;
    if (path == kClassObjectPath) return classEntry_;
    if (!path.startsWith(kObjectPathPrefix)) return nullptr;
    const QString digits = path.mid(kObjectPathPrefix.size());
    bool ok = false;
    const quint64 number = digits.toULongLong(&ok);
    if (!ok || QString::number(number) != digits) return nullptr;
    auto it = objects_.find(number);
    return it == objects_.end() ? nullptr : it->second;
}

HRESULT BusNode::importObject(const QString& peer, const QDBusObjectPath& path, REFIID iid, bool known,
                              void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // A success that hands over no object would leave the caller a null pointer it was promised was not.
    if (path.path() == kNullPath || path.path().isEmpty()) return RPC_X_BAD_STUB_DATA;
    RemoteObject* proxy = nullptr;
    bool fresh = false;
    const bool gone = departed(peer);
    {
        std::lock_guard guard(proxiesLock_);
        const auto key = std::make_pair(peer, path.path());
        auto it = proxies_.find(key);
        if (it != proxies_.end() && it->second->tryAddRef()) {
            proxy = it->second;
        } else {
            proxy = new RemoteObject(shared_from_this(), peer, path.path());
            if (gone) proxy->markDeparted();
            proxy->AddRef();
            proxies_[key] = proxy;
            fresh = true;
        }
    }
    // A proxy keeps one of the peer's references, whatever number of times the path arrives.
    if (!fresh && !gone) releaseRemote(peer, path.path());
    const HRESULT result = known ? proxy->knownFacet(iid, ppv) : proxy->QueryInterface(iid, ppv);
    proxy->Release();
    return result;
}

void BusNode::releaseRemote(const QString& peer, const QString& path) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(peer, path, kUnknownInterface, QStringLiteral("Release"));
    message.setAutoStartService(false);
    // Counted once queued: a flush that counts it pings behind it.
    if (connection_.send(message)) ++sent_;
}

bool BusNode::flush(std::chrono::milliseconds limit) {
    const quint64 target = sent_.load();
    if (confirmed_.load() >= target) return true;
    // One connection's messages leave in the order they were queued, and the bus handles them in that
    // order: once it has answered this, it holds everything sent before.
    const QDBusMessage ping =
        QDBusMessage::createMethodCall(kDBusService, QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    const QDBusMessage reply = connection_.call(ping, QDBus::Block, static_cast<int>(limit.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) return false;
    quint64 seen = confirmed_.load();
    while (seen < target && !confirmed_.compare_exchange_weak(seen, target)) {
    }
    return true;
}

void BusNode::forgetProxy(RemoteObject* proxy) {
    {
        std::lock_guard guard(proxiesLock_);
        auto it = proxies_.find(std::make_pair(proxy->peer(), proxy->path()));
        if (it != proxies_.end() && it->second == proxy) proxies_.erase(it);
    }
    pruneDeparted(proxy->peer());
}

std::size_t BusNode::exportedCount() {
    std::lock_guard guard(lock_);
    return objects_.size();
}

std::size_t BusNode::referencesOf(const QString& caller) {
    std::lock_guard guard(lock_);
    std::size_t total = 0;
    for (const auto& [number, entry] : objects_) total += entry->refs.value(caller);
    return total;
}

std::size_t BusNode::proxyCount() {
    std::lock_guard guard(proxiesLock_);
    return proxies_.size();
}

}  // namespace platform::com::dbus
