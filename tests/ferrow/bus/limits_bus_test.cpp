// Each client's room in Ferrow over the bus: groups per server object and items in all, E_OUTOFMEMORY
// past them for that client alone; groups removed and released, and items removed, give the room back,
// and a client that lets go of everything holds nothing.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <thread>

#include "ferrow/bus/opc_tables.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "tests/ferrow/bus/in_process_ferrow.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;
using namespace std::chrono_literals;

QString iid(const IID& id) { return QString::fromStdString(formatGuid(id)); }
uint resultOf(const QDBusMessage& reply) { return reply.arguments().value(0).toUInt(); }

// One client of the bus, talking to Ferrow as gdbus would.
class RawClient {
  public:
    RawClient(const QString& address, const QString& name, QString ferrow)
        : name_(name),
          connection_(QDBusConnection::connectToBus(address, name)),
          ferrow_(std::move(ferrow)) {}
    ~RawClient() { QDBusConnection::disconnectFromBus(name_); }

    QDBusMessage call(const QString& path, const char* interface, const char* method,
                      const QVariantList& in = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            ferrow_, path, QStringLiteral("org.quillon.com.") + interface, QString::fromLatin1(method));
        m.setArguments(in);
        return connection_.call(m, QDBus::Block, 30000);
    }
    QString createServer() {
        const QDBusMessage reply = call(QStringLiteral("/org/quillon/com/ClassObject"), "IClassFactory",
                                        "CreateInstance", {iid(IID_IOPCServer)});
        return qdbus_cast<QDBusObjectPath>(reply.arguments().value(1)).path();
    }
    // The group's path and handle; the path is "/" when refused, with `result` telling why.
    std::pair<QString, uint> addGroup(const QString& server, uint* result = nullptr) {
        const QDBusMessage reply = call(server, "IOPCServer", "AddGroup",
                                        {QString(), true, 1000u, 1u, QVariant::fromValue(QList<int>{}),
                                         QVariant::fromValue(QList<double>{}), 0u, iid(IID_IOPCItemMgt)});
        if (result) *result = resultOf(reply);
        return {qdbus_cast<QDBusObjectPath>(reply.arguments().value(3)).path(),
                reply.arguments().value(1).toUInt()};
    }
    // The errors of adding `count` items of the device's Setpoint, and the call's result in `result`.
    QList<uint> addItems(const QString& group, int count, uint* result, QList<uint>* handles = nullptr) {
        QList<ferrow::bus::WireItemDef> defs;
        for (int i = 0; i < count; ++i) {
            ferrow::bus::WireItemDef def;
            def.itemId = QStringLiteral("Device1.Setpoint");
            def.clientHandle = static_cast<uint>(i);
            defs << def;
        }
        const QDBusMessage reply = call(group, "IOPCItemMgt", "AddItems", {QVariant::fromValue(defs)});
        *result = resultOf(reply);
        if (handles)
            for (const auto& r : qdbus_cast<QList<ferrow::bus::WireItemResult>>(reply.arguments().value(1)))
                *handles << r.serverHandle;
        return qdbus_cast<QList<uint>>(reply.arguments().value(2));
    }
    void release(const QString& path) {
        while (call(path, "IUnknown", "Release").arguments().value(0).toUInt() > 0) {
        }
    }
    QString uniqueName() const { return connection_.baseService(); }

  private:
    QString name_;
    QDBusConnection connection_;
    QString ferrow_;
};

using FerrowBusLimits = bustest::InProcessFerrowTest;

TEST_F(FerrowBusLimits, AClientPastItsGroupsAndItemsGetsOutOfMemoryAloneAndGetsTheRoomBack) {
    ferrow::bus::ClientLimits limits;
    limits.groupsPerServer = 3;
    limits.items = 5;
    limits.itemsPerTurn = 2;
    busServer->setClientLimits(limits);
    ASSERT_TRUE(busServer->Start());
    ferrow::bus::ClientBooks& books = *busServer->books();
    {
        RawClient a(bus.address(), QStringLiteral("limits-a"), ferrowName());
        RawClient b(bus.address(), QStringLiteral("limits-b"), ferrowName());
        const QString serverA = a.createServer(), serverB = b.createServer();
        ASSERT_NE(serverA, QStringLiteral("/"));
        ASSERT_NE(serverB, QStringLiteral("/"));

        // Groups: three, then no more for A on this server; B is not touched by it.
        std::vector<std::pair<QString, uint>> groups;
        for (int i = 0; i < 3; ++i) groups.push_back(a.addGroup(serverA));
        for (const auto& group : groups) ASSERT_NE(group.first, QStringLiteral("/"));
        uint result = 0;
        EXPECT_EQ(a.addGroup(serverA, &result).first, QStringLiteral("/"));
        EXPECT_EQ(result, static_cast<uint>(E_OUTOFMEMORY));
        EXPECT_EQ(resultOf(a.call(groups[0].first, "IOPCGroupStateMgt", "CloneGroup",
                                  {QString(), iid(IID_IOPCItemMgt)})),
                  static_cast<uint>(E_OUTOFMEMORY));
        const auto groupB = b.addGroup(serverB, &result);
        EXPECT_EQ(result, static_cast<uint>(S_OK));

        // A group removed from its server but still held counts; released as well, it does not.
        EXPECT_EQ(resultOf(a.call(serverA, "IOPCServer", "RemoveGroup", {groups[0].second, false})),
                  static_cast<uint>(S_OK));
        a.addGroup(serverA, &result);
        EXPECT_EQ(result, static_cast<uint>(E_OUTOFMEMORY));
        a.release(groups[0].first);
        groups[0] = a.addGroup(serverA, &result);
        EXPECT_EQ(result, static_cast<uint>(S_OK));
        // Released but still in its server's list, it counts; removed as well, it does not.
        a.release(groups[1].first);
        a.addGroup(serverA, &result);
        EXPECT_EQ(result, static_cast<uint>(E_OUTOFMEMORY));
        EXPECT_EQ(resultOf(a.call(serverA, "IOPCServer", "RemoveGroup", {groups[1].second, false})),
                  static_cast<uint>(S_OK));
        const auto clone = a.call(groups[2].first, "IOPCGroupStateMgt", "CloneGroup",
                                  {QStringLiteral("Clone"), iid(IID_IOPCItemMgt)});
        EXPECT_EQ(resultOf(clone), static_cast<uint>(S_OK));
        groups[1] = {qdbus_cast<QDBusObjectPath>(clone.arguments().value(1)).path(), 0};
        const auto serverIdentity = ComPtr<IUnknown>::adopt(busServer->node()->exportedObject(serverA));
        EXPECT_EQ(books.groupsOf(a.uniqueName(), serverIdentity.get()), 3u);

        // Items: five for A in all, the rest of a call fails alone; B has its own five.
        QList<uint> handles;
        const QList<uint> errors = a.addItems(groups[0].first, 7, &result, &handles);
        EXPECT_EQ(result, static_cast<uint>(S_FALSE));
        EXPECT_EQ(errors, (QList<uint>{0, 0, 0, 0, 0, static_cast<uint>(E_OUTOFMEMORY),
                                       static_cast<uint>(E_OUTOFMEMORY)}));
        a.addItems(groups[2].first, 1, &result);
        EXPECT_EQ(result, static_cast<uint>(E_OUTOFMEMORY));
        b.addItems(groupB.first, 5, &result);
        EXPECT_EQ(result, static_cast<uint>(S_OK));
        // Two removed: room for two more, in another group.
        QList<uint> removed{handles[0], handles[1]};
        EXPECT_EQ(
            resultOf(a.call(groups[0].first, "IOPCItemMgt", "RemoveItems", {QVariant::fromValue(removed)})),
            static_cast<uint>(S_OK));
        EXPECT_EQ(a.addItems(groups[2].first, 3, &result),
                  (QList<uint>{0, 0, static_cast<uint>(E_OUTOFMEMORY)}));
        EXPECT_EQ(books.itemsOf(a.uniqueName()), 5u);

        // Letting go of the server and every group leaves A nothing in the books, B its own.
        a.release(serverA);
        for (const auto& group : groups) a.release(group.first);
        EXPECT_EQ(books.itemsOf(a.uniqueName()), 0u);
        EXPECT_EQ(books.itemsOf(b.uniqueName()), 5u);
        b.release(serverB);
        b.release(groupB.first);
        EXPECT_EQ(books.clientCount(), 0u);
        EXPECT_EQ(books.recordCount(), 0u);
    }
}

}  // namespace
