#include <condition_variable>
#include <thread>

#include "tests/ferrow/opc/opc_client.h"

namespace opctest {
namespace {

using ManyClients = OpcClientTest;

void drainAll(IEnumString* strings) {
    LPOLESTR name = nullptr;
    while (strings->Next(1, &name, nullptr) == S_OK) CoTaskMemFree(name);
}

// One client's round of calls; false once its server has been cut off.
bool clientRound(IOPCServer* server, int thread, int round) {
    const char16_t name[] = {u'G', static_cast<char16_t>(u'A' + thread),
                             static_cast<char16_t>(u'a' + round % 26), 0};
    ComPtr<IUnknown> group;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    HRESULT r =
        server->AddGroup(name, 1, 5, 0, nullptr, nullptr, 0, &handle, &revised, IID_IUnknown, group.put());
    if (r == RPC_E_DISCONNECTED) return false;
    // Threads sharing a server may race for the same name.
    EXPECT_TRUE(r == OPC_S_UNSUPPORTEDRATE || r == OPC_E_DUPLICATENAME) << std::hex << r;
    if (r == OPC_S_UNSUPPORTEDRATE) {
        r = server->RemoveGroup(handle, 0);
        if (r == RPC_E_DISCONNECTED) return false;
        EXPECT_EQ(r, S_OK);
    }
    group.reset();

    OPCSERVERSTATUS* status = nullptr;
    if (server->GetStatus(&status) == RPC_E_DISCONNECTED) return false;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    ComPtr<IOPCBrowseServerAddressSpace> browse;
    if (server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.putVoid()) != S_OK) return false;
    if (browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Device2") == S_OK) {
        ComPtr<IEnumString> leaves;
        if (browse->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, leaves.put()) == RPC_E_DISCONNECTED)
            return false;
        drainAll(leaves.get());
    }
    ComPtr<IEnumString> flat;
    r = browse->BrowseOPCItemIDs(OPC_FLAT, u"*.T?", VT_EMPTY, 0, flat.put());
    if (r == RPC_E_DISCONNECTED) return false;
    EXPECT_EQ(r, S_OK);
    drainAll(flat.get());

    ComPtr<IOPCItemProperties> properties;
    if (server->QueryInterface(IID_IOPCItemProperties, properties.putVoid()) != S_OK) return false;
    char16_t item[] = u"Device1.T1";
    DWORD ids[] = {2, 3, 4, 101};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    r = properties->GetItemProperties(item, 4, ids, &values, &errors);
    if (r == RPC_E_DISCONNECTED) return false;
    EXPECT_EQ(r, S_OK);
    for (auto& v : std::span(values, 4)) VariantClear(&v);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    return true;
}

TEST_F(ManyClients, CallOneServerAndSeveralServersWhileTheConfigurationChangesAndTheServerExits) {
    addTag(addDevice("Device1"), "T1");
    addTag(addDevice("Device2"), "T2");
    ComPtr<IOPCServer> shared = createServer();
    ShutdownSink sink;
    DWORD sinkCookie = 0;
    {
        ComPtr<IConnectionPointContainer> container = query<IConnectionPointContainer>(shared.get());
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.put()), S_OK);
        ASSERT_EQ(point->Advise(&sink, &sinkCookie), S_OK);
    }

    constexpr int kClients = 6;
    constexpr int kRounds = 150;
    std::mutex progressLock;
    std::condition_variable progressed;
    int roundsDone = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kClients; ++t)
        threads.emplace_back([&, t] {
            ComPtr<IOPCServer> own;
            if (t % 2) {
                EXPECT_EQ(CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_SERVER, IID_IOPCServer,
                                           own.putVoid()),
                          S_OK);
            }
            IOPCServer* server = own ? own.get() : shared.get();
            for (int round = 0; round < kRounds && clientRound(server, t, round); ++round) {
                std::lock_guard lock(progressLock);
                ++roundsDone;
                progressed.notify_all();
            }
        });
    threads.emplace_back([&] {
        // The configuration changes under the clients: Device2 goes and comes back, values change.
        for (int i = 0; i < 100; ++i) {
            deleteDevice("Device2");
            addTag(addDevice("Device2"), "T2");
            std::lock_guard documentGuard(ferrow::documentLock());
            std::lock_guard valueGuard(ferrow::valueLock());
            auto* tag = doc.FindItem("Device1.T1");
            tag->m_value.vt = VT_R8;
            tag->m_value.dblVal = i;
        }
    });
    {
        // The exit comes while the clients are in the middle of their work.
        std::unique_lock lock(progressLock);
        ASSERT_TRUE(
            progressed.wait_for(lock, std::chrono::seconds(60), [&] { return roundsDone >= kClients * 20; }));
    }
    NotifyServersShutdown(u"Exiting Server");
    DisconnectAndDeleteServers(std::chrono::milliseconds(0));
    for (auto& thread : threads) thread.join();
    // Servers created after the exit began are not this test's concern: their clients released them.
    DisconnectAndDeleteServers(std::chrono::milliseconds(0));
    EXPECT_EQ(sink.received(), std::vector<std::string>{"Exiting Server"});
    EXPECT_EQ(sink.refs.load(), 1u);
    EXPECT_EQ(ferrow::objectCount.load(), 0);
    shared.reset();
}

}  // namespace
}  // namespace opctest

namespace opctest {
namespace {

// Clients share one group: items added, activated, renamed, enumerated and removed on four threads at
// once, while a fifth renames the group and reads its state. Every use of a tag and device comes back.
TEST_F(ManyClients, ItemCallsOnOneGroupFromManyThreadsKeepTheUseCounts) {
    ferrow::ODevice* dev = addDevice("Dev");
    ferrow::OqnTag* tags[] = {addTag(dev, "A"), addTag(dev, "B")};
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(server->AddGroup(u"Shared", 0, 100, 0, nullptr, nullptr, 0, nullptr, nullptr, IID_IOPCItemMgt,
                               reinterpret_cast<IUnknown**>(items.put())),
              S_OK);
    ComPtr<IOPCGroupStateMgt> state = query<IOPCGroupStateMgt>(items.get());
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 150; ++round) {
                OPCITEMDEF defs[2] = {};
                defs[0].szItemID = const_cast<char16_t*>(t % 2 ? u"Dev.A" : u"Dev.B");
                defs[0].bActive = round % 2;
                defs[1].szItemID = const_cast<char16_t*>(u"Dev.A");
                defs[1].bActive = 1;
                OPCITEMRESULT* results = nullptr;
                HRESULT* errors = nullptr;
                if (items->AddItems(2, defs, &results, &errors) != S_OK) failed = true;
                OPCHANDLE handles[2] = {results[0].hServer, results[1].hServer};
                CoTaskMemFree(results);
                CoTaskMemFree(errors);
                if (items->SetActiveState(2, handles, round % 3 == 0, &errors) != S_OK) failed = true;
                CoTaskMemFree(errors);
                ComPtr<IEnumOPCItemAttributes> walk;
                items->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<IUnknown**>(walk.put()));
                OPCITEMATTRIBUTES* attributes = nullptr;
                ULONG fetched = 0;
                walk->Next(3, &attributes, &fetched);
                for (ULONG i = 0; i < fetched; ++i) {
                    CoTaskMemFree(attributes[i].szAccessPath);
                    CoTaskMemFree(attributes[i].szItemID);
                }
                CoTaskMemFree(attributes);
                if (items->RemoveItems(2, handles, &errors) != S_OK) failed = true;
                CoTaskMemFree(errors);
            }
        });
    threads.emplace_back([&] {
        for (int round = 0; round < 300; ++round) {
            state->SetName(round % 2 ? u"Odd" : u"Even");
            LPWSTR name = nullptr;
            DWORD revised = 0;
            BOOL active = round % 2;
            state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
            if (state->GetState(nullptr, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr) != S_OK)
                failed = true;
            CoTaskMemFree(name);
        }
    });
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(failed.load());
    EXPECT_EQ(tags[0]->m_nRef.load() + tags[1]->m_nRef.load(), 0);
    EXPECT_EQ(dev->m_nUseCount.load(), 0);
    state.reset();
    items.reset();
    server.reset();
}

}  // namespace
}  // namespace opctest
