// Teardown while a client's sink does not return: the server's end comes back, and the thread let go
// inside the sink touches nothing freed once the sink returns (run under the sanitizers too).

#include <future>
#include <vector>

#include "ferrow/opc/com_server.h"
#include "ferrow/opc/opc_server.h"
#include "tests/ferrow/opc/group_io_fixture.h"

namespace opctest {
namespace {

// Until only the test's own reference to the sink is left: the thread inside it has let it go.
bool waitForOnlyOwnReference(DataCallbackSink& sink) {
    return becomes([&sink] { return sink.refs.load() == 1; });
}

// An inactive group whose own passes do not come within the test (an hour's rate): activating it is the
// only thing that calls its sink, on the activating client's thread.
ComPtr<IOPCGroupStateMgt> quietGroup(IOPCServer* server) {
    ComPtr<IOPCGroupStateMgt> g;
    DWORD revised = 0;
    EXPECT_EQ(server->AddGroup(u"", 0, 3600000, 1, nullptr, nullptr, 0, nullptr, &revised,
                               IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(g.put())),
              S_OK);
    return g;
}

// Activates the group on a thread of its own, which holds its own reference as a client's call does.
std::future<HRESULT> activate(ComPtr<IOPCGroupStateMgt> g) {
    return std::async(std::launch::async, [g] {
        BOOL active = 1;
        DWORD rate = 0;
        return g->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr);
    });
}

TEST_F(GroupIoTest, TheServersEndReturnsWhileAPassIsInsideASinkThatDoesNotReturn) {
    group = makeGroup(1);
    adviseCallback(group.get(), stuck);
    addItem(group.get(), u"Dev.Level", 1);
    ASSERT_TRUE(stuck.waitForHeld(1));

    // The client lets go of everything; the server's final release cuts the group off.
    auto ended = std::async(std::launch::async, [this] {
        group.reset();
        server.reset();
    });
    ASSERT_EQ(ended.wait_for(30s), std::future_status::ready);
    stuck.release();
    EXPECT_TRUE(waitForOnlyOwnReference(stuck));
}

TEST_F(GroupIoTest, RemoveGroupAndTheServersEndReturnWhileACompletionIsInsideASink) {
    group = makeGroup(0);
    adviseCallback(group.get(), stuck);
    const OPCHANDLE item = addItem(group.get(), u"Dev.Level", 1);
    OPCHANDLE serverGroup = 0;
    ASSERT_EQ(group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &serverGroup),
              S_OK);
    OPCHANDLE handles[] = {item};
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(query<IOPCAsyncIO2>(group.get())->Read(1, handles, 7, &cancelId, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(stuck.waitForHeld(1));

    auto ended = std::async(std::launch::async, [this, serverGroup] {
        EXPECT_EQ(server->RemoveGroup(serverGroup, 1), S_OK);
        group.reset();
        server.reset();
    });
    ASSERT_EQ(ended.wait_for(30s), std::future_status::ready);
    stuck.release();
    EXPECT_TRUE(waitForOnlyOwnReference(stuck));
}

TEST_F(GroupIoTest, CuttingOffAGroupReturnsWhileAClientsCallIsInsideASinkThatDoesNotReturn) {
    group = quietGroup(server.get());
    adviseCallback(group.get(), stuck);
    addItem(group.get(), u"Dev.Level", 1);
    std::future<HRESULT> activation = activate(group);
    ASSERT_TRUE(stuck.waitForHeld(1));

    auto cut = std::async(std::launch::async, [this] { return CoDisconnectObject(group.get(), 0); });
    const bool returned = cut.wait_for(30s) == std::future_status::ready;
    EXPECT_TRUE(returned);
    if (returned) {
        EXPECT_EQ(cut.get(), S_OK);
        DWORD rate = 0;
        EXPECT_EQ(group->SetState(nullptr, &rate, nullptr, nullptr, nullptr, nullptr, nullptr),
                  RPC_E_DISCONNECTED);
        // The same server's other groups and a new server's are served.
        ComPtr<IOPCGroupStateMgt> other = makeGroup(1, 0.0f, u"Other");
        adviseCallback(other.get(), sink);
        addItem(other.get(), u"Dev.Level", 2);
        push(level, 31.0);
        EXPECT_TRUE(changeWith(sink, 31.0).has_value());
        ComPtr<IOPCServer> later = createServer();
        ComPtr<IOPCGroupStateMgt> laterGroup;
        DWORD revised = 0;
        ASSERT_EQ(later->AddGroup(u"Later", 1, 10, 3, nullptr, nullptr, 0, nullptr, &revised,
                                  IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(laterGroup.put())),
                  S_OK);
        adviseCallback(laterGroup.get(), sink2);
        addItem(laterGroup.get(), u"Dev.Level", 3);
        push(level, 32.0);
        EXPECT_TRUE(changeWith(sink2, 32.0).has_value());
    }
    stuck.release();
    EXPECT_EQ(activation.get(), S_OK);
}

TEST_F(GroupIoTest, DisconnectingAllServersReturnsWhileManyClientsAreInsideSinksThatDoNotReturn) {
    // Each server's group waits a while for the call stuck in it; so many that the waits together would
    // outlast the test's hang limit.
    constexpr int kServers = 10;
    std::vector<ComPtr<IOPCServer>> servers;
    std::vector<std::future<HRESULT>> activations;
    for (int i = 0; i < kServers; ++i) {
        servers.push_back(createServer());
        ComPtr<IOPCGroupStateMgt> g = quietGroup(servers.back().get());
        adviseCallback(g.get(), stuck);
        addItem(g.get(), u"Dev.Level", 1);
        activations.push_back(activate(g));
        ASSERT_TRUE(stuck.waitForHeld(i + 1));
    }
    auto disconnected = std::async(std::launch::async, [] { return DisconnectAndDeleteServers(0ms); });
    const bool returned = disconnected.wait_for(30s) == std::future_status::ready;
    EXPECT_TRUE(returned);
    if (returned) {
        // A client that comes after is served.
        ComPtr<IOPCServer> later = createServer();
        ComPtr<IOPCGroupStateMgt> laterGroup;
        DWORD revised = 0;
        ASSERT_EQ(later->AddGroup(u"Later", 1, 10, 3, nullptr, nullptr, 0, nullptr, &revised,
                                  IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(laterGroup.put())),
                  S_OK);
        adviseCallback(laterGroup.get(), sink);
        addItem(laterGroup.get(), u"Dev.Level", 3);
        push(level, 41.0);
        EXPECT_TRUE(changeWith(sink, 41.0).has_value());
    }
    stuck.release();
    for (auto& activation : activations) EXPECT_EQ(activation.get(), S_OK);
    servers.clear();
    // The job let go ends by itself once the sinks return: every server goes, every sink is let go.
    EXPECT_TRUE(becomes([] { return serverList().empty(); }));
    EXPECT_TRUE(waitForOnlyOwnReference(stuck));
}

}  // namespace
}  // namespace opctest
