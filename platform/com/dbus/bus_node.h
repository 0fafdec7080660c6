#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QString>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/com/com_ptr.h"
#include "platform/com/dbus/departed_callers.h"
#include "platform/com/dbus/interface_table.h"
#include "platform/com/dbus/served_call.h"
#include "platform/com/dbus/worker_pool.h"

class QThread;

namespace platform::com::dbus {

class BusNode;
class Dispatcher;
class RemoteObject;

// A peer as the node reaches it: by its unique name.
class NodePeer final : public Peer {
  public:
    NodePeer(BusNode& node, QString name) : node_(node), name_(std::move(name)) {}
    QDBusObjectPath exportObject(IUnknown* object) override;
    HRESULT importObject(const QDBusObjectPath& path, REFIID iid, bool known, void** ppv) override;
    QDBusObjectPath pathBack(IUnknown* object) override;
    IUnknown* ownObject(const QDBusObjectPath& path) override;

  private:
    BusNode& node_;
    QString name_;
};

// COM on one bus connection, both ways. Objects handed to peers are exported under /org/quillon/com
// (the class object, if any, at ClassObject; everything else at obj/<n>), each with the D-Bus
// interfaces of the COM interfaces it answers, and references counted per peer unique name; a peer
// that leaves the bus gives back all of its references. Paths peers send are reached through
// RemoteObject proxies. Calls from the bus are read on a dispatcher thread of the node's own and run
// on a worker pool, never on the reading thread. Any thread may use the node.
class BusNode : public std::enable_shared_from_this<BusNode> {
  public:
    struct Options {
        // The worker threads, the most of them one caller's calls may hold at once, and how many calls
        // of one caller may wait; past that the caller's calls are refused (LimitsExceeded) until its
        // queue drains, and no other caller notices.
        std::size_t maxWorkers = 16;
        std::size_t callerShare = 4;
        std::size_t maxQueuedPerCaller = 256;
        // How worker threads are started (tests stand in a system without threads to give).
        WorkerPool::ThreadStarter threadStarter;
        // How long a call to a peer's object may take before it counts as failed (RPC_E_DISCONNECTED).
        std::chrono::milliseconds callLimit{60000};
        // How long the references of a peer that left the bus are kept before they are given back. COM
        // keeps those of a client that stops pinging for minutes; a short wait also lets one-shot
        // callers (a gdbus call per step) use what an earlier step created.
        std::chrono::milliseconds departedGrace{0};
        // Objects answer only the peers that hold a reference to them, others get AccessDenied: a
        // client's sinks answer only the server it gave them to.
        bool onlyHolders = false;
        // What the server adds to the serving of its methods (limits, calls done in parts); none: each
        // call runs whole and is answered at once.
        std::shared_ptr<CallHooks> hooks;
    };

    // Null when the connection is not connected or the object tree is taken.
    static std::shared_ptr<BusNode> start(const QDBusConnection& connection, Options options);
    static std::shared_ptr<BusNode> start(const QDBusConnection& connection) {
        return start(connection, Options{});
    }
    ~BusNode();
    BusNode(const BusNode&) = delete;
    BusNode& operator=(const BusNode&) = delete;

    // Stops serving: the object tree goes, queued calls are answered, every exported object and lock
    // is given back. Proxies stay usable as long as the connection is.
    void stop();

    // Exports `classObject` at the class object's path (null: removes it).
    void setClassObject(IUnknown* classObject);
    // `object` exported with one more reference owned by `caller`; "/" for null.
    QDBusObjectPath exportFor(IUnknown* object, const QString& caller);
    // The object at `path` that `holder` holds a reference to, with one more reference; null if none.
    IUnknown* heldObject(const QString& path, const QString& holder);
    // The object exported at `path`, with one more reference for the caller of this; null if none.
    IUnknown* exportedObject(const QString& path);
    // Runs `job` in `caller`'s next turn on the workers; false once the node has stopped for good.
    bool resume(const QString& caller, std::function<void()> job) {
        return pool_.resume(caller, std::move(job));
    }
    // Stops serving the object with this identity (CoDisconnectObject); its references are dropped.
    void unexport(IUnknown* identity);
    // A proxy of `peer`'s object at `path` as `iid`, with one reference for the caller; the peer's
    // reference that came with the path is taken over. `known`: no need to ask the peer.
    HRESULT importObject(const QString& peer, const QDBusObjectPath& path, REFIID iid, bool known,
                         void** ppv);

    // Waits, at most `limit`, until every message this node sent without waiting for an answer (the
    // proxies' Release calls) has reached the bus, which then delivers it even if this process ends at
    // once. True when there was nothing to wait for or the bus has it all. Not on the connection's own
    // thread.
    bool flush(std::chrono::milliseconds limit);

    QDBusConnection connection() const { return connection_; }
    int callLimitMs() const { return static_cast<int>(options_.callLimit.count()); }

    // What the node holds now (tests and diagnostics).
    std::size_t exportedCount();
    std::size_t referencesOf(const QString& caller);
    std::size_t proxyCount();
    // The calls of `caller` waiting or running now.
    std::size_t callsOf(const QString& caller) { return pool_.pending(caller); }

    // For the dispatcher and the proxies.
    void dispatch(const QDBusMessage& message);
    // Answers an Introspect call (on the dispatcher's thread: it runs no COM method).
    void serveIntrospect(const QDBusMessage& message);
    void callerGone(const QString& name);
    bool departed(const QString& name);
    // The peers that left and are still remembered (tests and diagnostics).
    std::size_t departedCount();
    // Calls to peers that had left, failed without being sent (tests and diagnostics).
    void countWithheld() { ++withheld_; }
    quint64 withheldCount() const { return withheld_.load(); }
    std::chrono::milliseconds departedGrace() const { return options_.departedGrace; }
    void releaseCaller(const QString& name);
    void releaseRemote(const QString& peer, const QString& path);
    void forgetProxy(RemoteObject* proxy);

  private:
    struct Interface {
        const InterfaceTable* table;
        ComPtr<IUnknown> pointer;
    };
    struct Entry {
        quint64 number = 0;
        QString path;
        ComPtr<IUnknown> identity;
        std::vector<Interface> interfaces;
        bool classObject = false;
        QHash<QString, quint32> refs;
        quint64 total = 0;
    };
    struct Caller {
        std::set<quint64> objects;
        quint32 serverLocks = 0;
    };

    BusNode(const QDBusConnection& connection, Options options);
    void serve(const QDBusMessage& message);
    void serveUnknown(const std::shared_ptr<Entry>& entry, const QDBusMessage& message);
    bool serveLockServer(const std::shared_ptr<Entry>& entry, IUnknown* factory, const QDBusMessage& message);
    std::shared_ptr<Entry> find(const QString& path);
    std::vector<Interface> interfacesOf(IUnknown* identity);
    // Under lock_; false when the caller has already left the bus.
    bool addRefLocked(const std::shared_ptr<Entry>& entry, const QString& caller);
    // Under lock_; the entry leaves the tables when nobody holds it any more.
    quint32 releaseLocked(const std::shared_ptr<Entry>& entry, const QString& caller,
                          std::vector<std::shared_ptr<Entry>>* dropped);
    void removeLocked(const std::shared_ptr<Entry>& entry);
    bool goneLocked(const QString& caller) const;
    bool mayCall(const std::shared_ptr<Entry>& entry, const QString& caller);
    // Forgets a departed peer once nothing of it is left here.
    void pruneDeparted(const QString& name);
    void replyError(const QDBusMessage& message, const QString& name, const QString& text);

    QDBusConnection connection_;
    Options options_;
    WorkerPool pool_;
    QThread* thread_ = nullptr;
    Dispatcher* dispatcher_ = nullptr;

    std::mutex lock_;  // a leaf: no COM method runs while it is held
    bool stopped_ = false;
    quint64 nextNumber_ = 1;
    std::shared_ptr<Entry> classEntry_;
    std::map<quint64, std::shared_ptr<Entry>> objects_;
    std::unordered_map<IUnknown*, quint64> byIdentity_;
    QHash<QString, Caller> callers_;
    // Callers seen leaving: a reference handed out in the same moment is not kept, and nothing more is
    // sent to them.
    DepartedCallers departed_;

    // Messages sent without an answer, counted, and how many of the first of them the bus has confirmed.
    std::atomic<quint64> sent_{0};
    std::atomic<quint64> confirmed_{0};
    std::atomic<quint64> withheld_{0};

    std::mutex proxiesLock_;
    std::map<std::pair<QString, QString>, RemoteObject*> proxies_;
};

}  // namespace platform::com::dbus
