// Array calls across the bus run in bounded turns: a huge AddItems gives the only worker back between its
// parts, so another client's call is answered before it ends, and the parts come back as one answer.
// Past a client's item limit the rest of its items fail with E_OUTOFMEMORY, and removing items gives the
// room back; another client keeps its own room.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "ferrow/bus/opc_call_hooks.h"
#include "ferrow/bus/opc_tables.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dbus/bus_node.h"
#include "platform/com/task_memory.h"
#include "tests/platform/com/dbus/test_bus.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;
using namespace std::chrono_literals;

// What the fakes were called with, in order.
struct CallLog {
    std::mutex lock;
    std::vector<std::string> calls;
    void note(std::string call) {
        std::lock_guard guard(lock);
        calls.push_back(std::move(call));
    }
    std::vector<std::string> taken() {
        std::lock_guard guard(lock);
        return calls;
    }
};

template <class Done>
bool eventually(Done done) {
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A group that takes every item (server handle = client handle) except, while refusing, those whose
// client handle ends in 7 (E_INVALIDARG), and removes every handle. Its first AddItems waits for
// `beforeFirstEnds`.
class FakeItems final : public ComObject<IOPCItemMgt> {
  public:
    explicit FakeItems(CallLog& log) : log_(log) {}
    std::function<bool()> beforeFirstEnds;
    std::atomic<bool> refusing{true};

    HRESULT AddItems(DWORD count, OPCITEMDEF* defs, OPCITEMRESULT** results, HRESULT** errors) override {
        log_.note("AddItems " + std::to_string(count));
        if (auto wait = std::exchange(beforeFirstEnds, nullptr)) {
            EXPECT_TRUE(wait());
        }
        *results = taskArray<OPCITEMRESULT>(count);
        *errors = taskArray<HRESULT>(count);
        HRESULT result = S_OK;
        for (DWORD i = 0; i < count; ++i) {
            (*results)[i].hServer = defs[i].hClient;
            (*errors)[i] = refusing && defs[i].hClient % 10 == 7 ? E_INVALIDARG : S_OK;
            if (FAILED((*errors)[i])) result = S_FALSE;
        }
        return result;
    }
    HRESULT RemoveItems(DWORD count, OPCHANDLE*, HRESULT** errors) override {
        log_.note("RemoveItems " + std::to_string(count));
        *errors = taskArray<HRESULT>(count);
        return S_OK;
    }
    HRESULT ValidateItems(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**, HRESULT**) override { return E_NOTIMPL; }
    HRESULT SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT**) override { return E_NOTIMPL; }
    // Keeps each pair; a server handle ending in 7 is unknown.
    HRESULT SetClientHandles(DWORD count, OPCHANDLE* servers, OPCHANDLE* clients, HRESULT** errors) override {
        log_.note("SetClientHandles " + std::to_string(count));
        *errors = taskArray<HRESULT>(count);
        HRESULT result = S_OK;
        for (DWORD i = 0; i < count; ++i) {
            pairs.emplace_back(servers[i], clients[i]);
            (*errors)[i] = servers[i] % 10 == 7 ? OPC_E_INVALIDHANDLE : S_OK;
            if (FAILED((*errors)[i])) result = S_FALSE;
        }
        return result;
    }
    std::vector<std::pair<OPCHANDLE, OPCHANDLE>> pairs;
    HRESULT SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**) override { return E_NOTIMPL; }
    HRESULT CreateEnumerator(REFIID, IUnknown**) override { return E_NOTIMPL; }

  private:
    CallLog& log_;
};

class FakeServer final : public ComObject<IOPCServer> {
  public:
    explicit FakeServer(CallLog& log) : log_(log) {}
    HRESULT GetStatus(OPCSERVERSTATUS**) override {
        log_.note("GetStatus");
        return E_NOTIMPL;
    }
    HRESULT AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, float*, DWORD, OPCHANDLE*, DWORD*, REFIID,
                     IUnknown**) override {
        return E_NOTIMPL;
    }
    HRESULT GetErrorString(HRESULT, LCID, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT GetGroupByName(LPCWSTR, REFIID, IUnknown**) override { return E_NOTIMPL; }
    HRESULT RemoveGroup(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE, REFIID, IUnknown**) override { return E_NOTIMPL; }

  private:
    CallLog& log_;
};

QVariantList itemDefs(uint from, uint count) {
    QList<ferrow::bus::WireItemDef> defs;
    defs.reserve(count);
    for (uint i = 0; i < count; ++i) {
        ferrow::bus::WireItemDef def;
        def.itemId = QStringLiteral("Device1.Counter");
        def.clientHandle = from + i;
        defs << def;
    }
    return {QVariant::fromValue(defs)};
}

// One node serving the fakes with Ferrow's call hooks and a single worker, and two clients, A and B.
class TurnsBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bus.started());
        ferrow::bus::registerOpcTables();
        a = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("turns-a")));
        b = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("turns-b")));
        items = ComPtr<FakeItems>(new FakeItems(log));
        server = ComPtr<FakeServer>(new FakeServer(log));
    }
    // Serves the group to A and the server to B, in turns of 500 items.
    void serve(std::size_t itemLimit) {
        ferrow::bus::ClientLimits limits;
        limits.items = itemLimit;
        limits.itemsPerTurn = 500;
        hooks = std::make_shared<ferrow::bus::OpcCallHooks>(limits);
        platform::com::dbus::BusNode::Options options;
        options.maxWorkers = 1;
        options.hooks = hooks;
        node = platform::com::dbus::BusNode::start(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("turns-server")), options);
        ASSERT_TRUE(node);
        itemsPath = node->exportFor(static_cast<IOPCItemMgt*>(items.get()), a->baseService()).path();
        serverPath = node->exportFor(static_cast<IOPCServer*>(server.get()), b->baseService()).path();
    }
    void TearDown() override {
        if (node) node->stop();
        a.reset();
        b.reset();
        for (const char* name : {"turns-server", "turns-a", "turns-b"})
            QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
    }
    QDBusMessage message(const QString& path, const char* interface, const char* method,
                         const QVariantList& in) {
        QDBusMessage m = QDBusMessage::createMethodCall(node->connection().baseService(), path,
                                                        QStringLiteral("org.quillon.com.") + interface,
                                                        QString::fromLatin1(method));
        m.setArguments(in);
        return m;
    }
    QDBusMessage addItems(QDBusConnection& client, uint from, uint count) {
        return client.call(message(itemsPath, "IOPCItemMgt", "AddItems", itemDefs(from, count)), QDBus::Block,
                           30000);
    }

    bustest::TestBus bus;
    CallLog log;
    std::shared_ptr<ferrow::bus::OpcCallHooks> hooks;
    std::shared_ptr<platform::com::dbus::BusNode> node;
    std::unique_ptr<QDBusConnection> a, b;
    ComPtr<FakeItems> items;
    ComPtr<FakeServer> server;
    QString itemsPath, serverPath;
};

TEST_F(TurnsBusTest, AHugeAddItemsLetsAnotherClientsCallInAndComesBackAsOneAnswer) {
    serve(ferrow::bus::kMaxItemsPerClient);
    ASSERT_TRUE(node);
    // The first part holds the only worker until B's call waits for it.
    const QString bName = b->baseService();
    items->beforeFirstEnds = [&] { return eventually([&] { return node->callsOf(bName) > 0; }); };
    constexpr uint kCount = 100000;
    QDBusPendingCall pending =
        a->asyncCall(message(itemsPath, "IOPCItemMgt", "AddItems", itemDefs(0, kCount)), 60000);
    ASSERT_TRUE(eventually([&] { return !log.taken().empty(); }));
    const QDBusMessage status =
        b->call(message(serverPath, "IOPCServer", "GetStatus", {}), QDBus::Block, 30000);
    EXPECT_EQ(status.type(), QDBusMessage::ReplyMessage);
    pending.waitForFinished();
    const QDBusMessage added = pending.reply();
    ASSERT_EQ(added.type(), QDBusMessage::ReplyMessage) << added.errorMessage().toStdString();

    // B was served right after A's first turn, and A's work went on in parts of 500.
    const auto calls = log.taken();
    ASSERT_EQ(calls.size(), kCount / 500 + 1);
    EXPECT_EQ(calls[0], "AddItems 500");
    EXPECT_EQ(calls[1], "GetStatus");
    for (std::size_t i = 2; i < calls.size(); ++i) EXPECT_EQ(calls[i], "AddItems 500");

    // One answer: every item in its place, the failed ones marked.
    EXPECT_EQ(added.arguments().at(0).toUInt(), static_cast<uint>(S_FALSE));
    const auto results = qdbus_cast<QList<ferrow::bus::WireItemResult>>(added.arguments().at(1));
    const auto errors = qdbus_cast<QList<uint>>(added.arguments().at(2));
    ASSERT_EQ(results.size(), static_cast<qsizetype>(kCount));
    ASSERT_EQ(errors.size(), static_cast<qsizetype>(kCount));
    for (uint i = 0; i < kCount; ++i) {
        const bool refused = i % 10 == 7;
        ASSERT_EQ(errors[i], static_cast<uint>(refused ? E_INVALIDARG : S_OK)) << i;
        if (!refused) {
            ASSERT_EQ(results[i].serverHandle, i) << i;
        }
    }
}

TEST_F(TurnsBusTest, PastItsItemLimitAClientsItemsFailAloneAndRemovedItemsGiveRoomBack) {
    // 1 200 items of room: of 2 000, the first 1 200 are added and the rest fail for want of room.
    serve(1200);
    ASSERT_TRUE(node);
    items->refusing = false;
    QDBusMessage first = addItems(*a, 0, 2000);
    ASSERT_EQ(first.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(first.arguments().at(0).toUInt(), static_cast<uint>(S_FALSE));
    const auto errors = qdbus_cast<QList<uint>>(first.arguments().at(2));
    ASSERT_EQ(errors.size(), 2000);
    for (uint i = 0; i < 2000; ++i)
        ASSERT_EQ(errors[i], static_cast<uint>(i >= 1200 ? E_OUTOFMEMORY : S_OK)) << i;
    EXPECT_EQ(hooks->books().itemsOf(a->baseService()), 1200u);
    EXPECT_EQ(log.taken(), (std::vector<std::string>{"AddItems 500", "AddItems 500", "AddItems 200"}));

    // With no room left a call fails whole, and the group is not even asked.
    QDBusMessage full = addItems(*a, 4000, 10);
    EXPECT_EQ(full.arguments().at(0).toUInt(), static_cast<uint>(E_OUTOFMEMORY));
    EXPECT_TRUE(qdbus_cast<QList<uint>>(full.arguments().at(2)).isEmpty());
    EXPECT_EQ(log.taken().size(), 3u);

    // Another client on the same group has its own room.
    node->exportFor(static_cast<IOPCItemMgt*>(items.get()), b->baseService());
    QDBusMessage other = addItems(*b, 0, 100);
    EXPECT_EQ(other.arguments().at(0).toUInt(), static_cast<uint>(S_OK));
    EXPECT_EQ(hooks->books().itemsOf(b->baseService()), 100u);

    // Removing gives A's room back.
    QList<uint> handles;
    for (uint i = 0; i < 500; ++i) handles << i;
    QDBusMessage removed =
        a->call(message(itemsPath, "IOPCItemMgt", "RemoveItems", {QVariant::fromValue(handles)}),
                QDBus::Block, 30000);
    EXPECT_EQ(removed.arguments().at(0).toUInt(), static_cast<uint>(S_OK));
    EXPECT_EQ(hooks->books().itemsOf(a->baseService()), 700u);
    // Items the group refuses take no room.
    items->refusing = true;
    EXPECT_EQ(addItems(*a, 5000, 10).arguments().at(0).toUInt(), static_cast<uint>(S_FALSE));
    EXPECT_EQ(hooks->books().itemsOf(a->baseService()), 709u);

    // When the group leaves the bus, every client's items in it go with it.
    node->unexport(items->identity());
    EXPECT_EQ(hooks->books().itemsOf(a->baseService()), 0u);
    EXPECT_EQ(hooks->books().itemsOf(b->baseService()), 0u);
    EXPECT_EQ(hooks->books().clientCount(), 0u);
    EXPECT_EQ(hooks->books().recordCount(), 0u);
}

TEST_F(TurnsBusTest, ArraysCutInStepKeepTheirPairsAndAWholeFailureStaysOne) {
    serve(ferrow::bus::kMaxItemsPerClient);
    ASSERT_TRUE(node);
    QList<uint> servers, clients;
    for (uint i = 0; i < 1200; ++i) {
        servers << i;
        clients << 100000 + i;
    }
    const QDBusMessage set = a->call(message(itemsPath, "IOPCItemMgt", "SetClientHandles",
                                             {QVariant::fromValue(servers), QVariant::fromValue(clients)}),
                                     QDBus::Block, 30000);
    ASSERT_EQ(set.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(set.arguments().at(0).toUInt(), static_cast<uint>(S_FALSE));
    const auto errors = qdbus_cast<QList<uint>>(set.arguments().at(1));
    ASSERT_EQ(errors.size(), 1200);
    for (uint i = 0; i < 1200; ++i)
        ASSERT_EQ(errors[i], static_cast<uint>(i % 10 == 7 ? OPC_E_INVALIDHANDLE : S_OK)) << i;
    ASSERT_EQ(items->pairs.size(), 1200u);
    for (uint i = 0; i < 1200; ++i) ASSERT_EQ(items->pairs[i], std::make_pair(i, 100000 + i));
    EXPECT_EQ(log.taken(), (std::vector<std::string>{"SetClientHandles 500", "SetClientHandles 500",
                                                     "SetClientHandles 200"}));

    // Arrays of different lengths are not cut: the call is refused whole, as it would be in one piece.
    clients.removeLast();
    const QDBusMessage uneven = a->call(message(itemsPath, "IOPCItemMgt", "SetClientHandles",
                                                {QVariant::fromValue(servers), QVariant::fromValue(clients)}),
                                        QDBus::Block, 30000);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(uneven.arguments().value(0).toUInt())));
    EXPECT_EQ(log.taken().size(), 3u);

    // Every part failing the same way is that failure, with empty arrays.
    const QDBusMessage unsupported =
        a->call(message(itemsPath, "IOPCItemMgt", "SetActiveState", {QVariant::fromValue(servers), true}),
                QDBus::Block, 30000);
    EXPECT_EQ(unsupported.arguments().at(0).toUInt(), static_cast<uint>(E_NOTIMPL));
    EXPECT_TRUE(qdbus_cast<QList<uint>>(unsupported.arguments().at(1)).isEmpty());
}

}  // namespace
