#include "platform/com/dbus/local_server.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QHash>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/com/class_table.h"
#include "platform/com/dbus/platform_tables.h"
#include "platform/settings/registry_store.h"

namespace platform::com::dbus {

namespace {
struct ClientState {
    std::mutex lock;
    QHash<QString, QString> servers;  // CLSID in registry form -> bus name
    std::optional<QDBusConnection> connection;
    std::shared_ptr<BusNode> node;
};
// Never destroyed: proxies may be released while the process ends.
ClientState& state() {
    static auto* instance = new ClientState;
    return *instance;
}

QString key(const CLSID& clsid) { return QString::fromStdString(formatGuid(clsid)); }

// A proxy's Release leaves without waiting for an answer; a process that ends right after may take it
// with it unsent, and the server would keep the objects until it notices the client left the bus.
void flushClientNode() {
    std::shared_ptr<BusNode> node;
    {
        ClientState& s = state();
        std::lock_guard guard(s.lock);
        node = s.node;
    }
    if (node) node->flush(kClientFlushLimit);
}

void flushBeforeExit() {
    // After QCoreApplication is gone, its destructor has already flushed (and the bus may not work).
    if (QCoreApplication::instance()) flushClientNode();
}

HRESULT localClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    const QString busName = localServerName(clsid);
    if (busName.isEmpty()) return REGDB_E_CLASSNOTREG;
    const std::shared_ptr<BusNode> node = clientNode();
    if (!node) return RPC_S_SERVER_UNAVAILABLE;
    // Asking the class object by its well-known name starts the server when it is not running; the
    // answer comes from its unique name, which the proxies then use, so that they never reach a later
    // instance of the server by mistake.
    QDBusMessage message = QDBusMessage::createMethodCall(busName, kClassObjectPath, kUnknownInterface,
                                                          QStringLiteral("QueryInterface"));
    message << QString::fromStdString(formatGuid(riid));
    const QDBusMessage reply = node->connection().call(message, QDBus::Block, kActivationLimitMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("uo"))
        return RPC_S_SERVER_UNAVAILABLE;
    const HRESULT result = static_cast<HRESULT>(reply.arguments().at(0).toUInt());
    if (FAILED(result)) return result;
    return node->importObject(reply.service(), qdbus_cast<QDBusObjectPath>(reply.arguments().at(1)), riid,
                              true, ppv);
}
}  // namespace

void registerLocalServer(const CLSID& clsid, const QString& busName) {
    ClientState& s = state();
    std::lock_guard guard(s.lock);
    s.servers.insert(key(clsid), busName);
}

bool isWellKnownBusName(const QString& name) {
    if (name.isEmpty() || name.size() > 255) return false;
    const QStringList elements = name.split(QLatin1Char('.'));
    if (elements.size() < 2) return false;
    for (const QString& element : elements) {
        if (element.isEmpty() || element.front().isDigit()) return false;
        for (const QChar c : element)
            if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_') &&
                c != QLatin1Char('-'))
                return false;
    }
    return true;
}

QString localServerName(const CLSID& clsid) {
    // Read afresh each time: a registration may come or go while this process runs.
    const platform::RegistryStore store;
    const auto entry =
        store.queryValue(platform::RegistryStore::Root::ClassesRoot,
                         QStringLiteral("CLSID\\%1\\LocalServer32").arg(key(clsid)), kBusNameValue);
    if (entry && entry->type == platform::RegistryStore::kString && isWellKnownBusName(entry->text))
        return entry->text;
    ClientState& s = state();
    std::lock_guard guard(s.lock);
    return s.servers.value(key(clsid));
}

void enableLocalServerActivation() {
    registerPlatformTables();
    setLocalServerHook(&localClassObject);
}

std::shared_ptr<BusNode> clientNode() {
    ClientState& s = state();
    std::lock_guard guard(s.lock);
    if (s.node) return s.node;
    registerPlatformTables();
    if (!s.connection) {
        static int serial = 0;
        const QString name = QStringLiteral("quillon-com-client-%1").arg(++serial);
        const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        s.connection = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                                         : QDBusConnection::connectToBus(address, name);
    }
    // The node serves this process's sinks: each answers only the server it was given to.
    BusNode::Options options;
    options.onlyHolders = true;
    s.node = BusNode::start(*s.connection, options);
    static std::once_flag atExit;
    if (s.node)
        std::call_once(atExit, [] {
            qAddPostRoutine(&flushClientNode);
            std::atexit(&flushBeforeExit);
        });
    return s.node;
}

void setClientConnection(const QDBusConnection& connection) {
    ClientState& s = state();
    std::lock_guard guard(s.lock);
    s.connection = connection;
}

void shutdownClientNode() {
    std::shared_ptr<BusNode> node;
    {
        ClientState& s = state();
        std::lock_guard guard(s.lock);
        node.swap(s.node);
    }
    if (!node) return;
    node->flush(kClientFlushLimit);
    node->stop();
}

}  // namespace platform::com::dbus
