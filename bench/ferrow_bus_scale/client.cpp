// Clients of Ferrow for ferrow_bus_scale_bench, many in one process, each on a bus connection of its own
// (its own unique name, so Ferrow sees separate clients), talking as gdbus would. Each makes a server
// object, `groups` groups of `items` items of the given devices and advises a sink that keeps the last
// value of every item.
//
//   ferrow_bus_scale_client <clients> <groups> <items> <devices> <rate ms>
//
// Prints "ready <clients>" once every client is subscribed ("error <what>" and exit 1 if one cannot).
// Commands on standard input, one a line:
//   expect <v>   prints "have <v>" once every item of every client holds the value v
//   count        prints "count <items delivered so far>"
//   quit         every client unadvises, removes its groups, releases everything, then the process ends
// At the end of its input the process ends at once, leaving the bus with everything still held.
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "ferrow/bus/opc_tables.h"
#include "ferrow/bus/opc_wire.h"

namespace {

const QString kFerrow = QStringLiteral("org.quillon.Ferrow");
const QString kSinkPath = QStringLiteral("/org/quillon/com/obj/1");
constexpr int kCallLimitMs = 60000;

void say(const QByteArray& line) {
    std::fputs((line + "\n").constData(), stdout);
    std::fflush(stdout);
}

// The sink of one client: answers IUnknown for itself and keeps OnDataChange's values by client handle.
class Sink final : public QDBusVirtualObject {
  public:
    explicit Sink(std::size_t items) : values(items, -1) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        QVariantList out;
        if (member == QLatin1String("QueryInterface")) {
            out << QVariant::fromValue(0u) << QVariant::fromValue(QDBusObjectPath(kSinkPath));
        } else if (member == QLatin1String("AddRef") || member == QLatin1String("Release")) {
            out << QVariant::fromValue(1u);
        } else if (member == QLatin1String("OnDataChange") && message.arguments().size() >= 6) {
            const auto handles = qdbus_cast<QList<uint>>(message.arguments().at(4));
            const auto variants =
                qdbus_cast<QList<platform::com::dbus::WireVariant>>(message.arguments().at(5));
            for (qsizetype i = 0; i < handles.size() && i < variants.size(); ++i)
                if (handles[i] < values.size()) values[handles[i]] = variants[i].value.variant().toInt();
            delivered += static_cast<quint64>(handles.size());
            out << QVariant::fromValue(0u);
            if (onChange) onChange();
        } else {
            out << QVariant::fromValue(0u);
        }
        connection.send(message.createReply(out));
        return true;
    }
    bool holds(int value) const {
        for (int v : values)
            if (v != value) return false;
        return true;
    }
    std::vector<int> values;
    quint64 delivered = 0;
    std::function<void()> onChange;
};

struct Client {
    QString name;
    std::unique_ptr<QDBusConnection> connection;
    std::unique_ptr<Sink> sink;
    QString server;
    std::vector<std::pair<QString, uint>> groups;  // path and server handle
    std::vector<std::pair<QString, uint>> points;  // connection point path and cookie
    QByteArray failure;

    QDBusMessage call(const QString& path, const char* interface, const char* method,
                      const QVariantList& in = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            kFerrow, path, QStringLiteral("org.quillon.com.") + interface, QString::fromLatin1(method));
        m.setArguments(in);
        // Events go on while waiting: Ferrow asks the sink (on this thread) during Advise. The wait looks
        // at the call itself every 50 ms too: with fifty connections in one process, a blocking call's
        // wake-up has been seen to go missing, leaving the process waiting with no timer to end it.
        QDBusPendingCall pending = connection->asyncCall(m, kCallLimitMs);
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        QTimer recheck;
        QObject::connect(&recheck, &QTimer::timeout, &loop, &QEventLoop::quit);
        recheck.start(50);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCallLimitMs + 5000);
        while (!pending.isFinished() && std::chrono::steady_clock::now() < end) loop.exec();
        if (!pending.isFinished())
            return m.createErrorReply(QDBusError::NoReply, QStringLiteral("%1: no answer, not even the bus's "
                                                                          "time-out, within %2 s")
                                                               .arg(QLatin1String(method))
                                                               .arg(kCallLimitMs / 1000 + 5));
        return pending.reply();
    }
    static QString pathOf(const QDBusMessage& reply, int at) {
        return qdbus_cast<QDBusObjectPath>(reply.arguments().value(at)).path();
    }
    bool subscribe(int groupCount, int items, int devices, uint rate) {
        const QDBusMessage made =
            call(QStringLiteral("/org/quillon/com/ClassObject"), "IClassFactory", "CreateInstance",
                 {QStringLiteral("{39C13A4D-011E-11D0-9675-0020AFD8ADB3}")});
        server = pathOf(made, 1);
        if (server.isEmpty() || server == QLatin1String("/")) {
            failure = "CreateInstance " + made.errorMessage().toUtf8();
            return false;
        }
        for (int g = 0; g < groupCount; ++g) {
            const QDBusMessage added =
                call(server, "IOPCServer", "AddGroup",
                     {QStringLiteral("G%1").arg(g), true, rate, uint(g), QVariant::fromValue(QList<int>{}),
                      QVariant::fromValue(QList<double>{}), 0u,
                      QStringLiteral("{39C13A54-011E-11D0-9675-0020AFD8ADB3}")});
            const QString group = pathOf(added, 3);
            if (group.isEmpty() || group == QLatin1String("/")) {
                failure = "AddGroup " + added.errorMessage().toUtf8();
                return false;
            }
            groups.push_back({group, added.arguments().value(1).toUInt()});
            QList<ferrow::bus::WireItemDef> defs;
            for (int i = 0; i < items; ++i) {
                ferrow::bus::WireItemDef def;
                def.itemId =
                    QStringLiteral("Device%1.P%2").arg(g % devices + 1).arg(i, 5, 10, QLatin1Char('0'));
                def.active = true;
                def.clientHandle = static_cast<uint>(g * items + i);
                defs << def;
            }
            const QDBusMessage items = call(group, "IOPCItemMgt", "AddItems", {QVariant::fromValue(defs)});
            if (items.arguments().value(0).toUInt() != 0) {
                failure = "AddItems " + QByteArray::number(items.arguments().value(0).toUInt(), 16) + " " +
                          items.errorMessage().toUtf8();
                return false;
            }
            const QString point = pathOf(call(group, "IConnectionPointContainer", "FindConnectionPoint",
                                              {QStringLiteral("{39C13A70-011E-11D0-9675-0020AFD8ADB3}")}),
                                         1);
            const QDBusMessage advised =
                call(point, "IConnectionPoint", "Advise", {QVariant::fromValue(QDBusObjectPath(kSinkPath))});
            if (advised.arguments().value(0).toUInt() != 0) {
                failure = "Advise " + QByteArray::number(advised.arguments().value(0).toUInt(), 16) + " " +
                          advised.errorMessage().toUtf8();
                return false;
            }
            points.push_back({point, advised.arguments().value(1).toUInt()});
        }
        return true;
    }
    void release(const QString& path) {
        for (int i = 0; i < 1000 && call(path, "IUnknown", "Release").arguments().value(0).toUInt() > 0;
             ++i) {
        }
    }
    void leaveCleanly() {
        for (const auto& [point, cookie] : points) {
            call(point, "IConnectionPoint", "Unadvise", {cookie});
            release(point);
        }
        for (const auto& [group, handle] : groups) {
            call(server, "IOPCServer", "RemoveGroup", {handle, false});
            release(group);
        }
        release(server);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s <clients> <groups> <items> <devices> <rate ms>\n", argv[0]);
        return 2;
    }
    const int clients = std::atoi(argv[1]), groups = std::atoi(argv[2]), items = std::atoi(argv[3]);
    const int devices = std::max(1, std::atoi(argv[4]));
    const uint rate = static_cast<uint>(std::atoi(argv[5]));
    ferrow::bus::registerOpcWireTypes();
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    std::vector<std::unique_ptr<Client>> all;
    int expected = 0;
    bool expecting = false;
    auto checkExpected = [&] {
        if (!expecting) return;
        for (const auto& c : all)
            if (!c->sink->holds(expected)) return;
        expecting = false;
        say("have " + QByteArray::number(expected));
    };
    for (int n = 0; n < clients; ++n) {
        auto c = std::make_unique<Client>();
        c->name = QStringLiteral("scale-client-%1").arg(n);
        c->connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, c->name));
        c->sink = std::make_unique<Sink>(static_cast<std::size_t>(groups * items));
        c->sink->onChange = checkExpected;
        c->connection->registerVirtualObject(kSinkPath, c->sink.get());
        if (!c->connection->isConnected() || !c->subscribe(groups, items, devices, rate)) {
            say("error subscribe " + c->name.toUtf8() + ": " + c->failure);
            return 1;
        }
        all.push_back(std::move(c));
    }
    say("ready " + QByteArray::number(clients));
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            std::_Exit(0);  // leaves the bus holding everything: Ferrow must clean up after it
        }
        pending.append(chunk, got);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            const QByteArray line = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (line.startsWith("expect ")) {
                expected = line.mid(7).toInt();
                expecting = true;
                checkExpected();
            } else if (line == "count") {
                quint64 total = 0;
                for (const auto& c : all) total += c->sink->delivered;
                say("count " + QByteArray::number(total));
            } else if (line == "quit") {
                for (const auto& c : all) c->leaveCleanly();
                say("left");
                std::_Exit(0);
            }
        }
    });
    return app.exec();
}
