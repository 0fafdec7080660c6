#include <condition_variable>
#include <mutex>
#include <thread>

#include "ferrow/opc/opc_server.h"
#include "tests/ferrow/opc/opc_client.h"

namespace opctest {
namespace {

using Shutdown = OpcClientTest;
using namespace std::chrono_literals;

// An object that is no IOPCShutdown.
struct NotASink : IUnknown {
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *ppv = this;
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
};

ComPtr<IConnectionPoint> shutdownPoint(IOPCServer* server) {
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(server->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.put()), S_OK);
    return point;
}

TEST_F(Shutdown, TheContainerOffersOneShutdownPoint) {
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IConnectionPointContainer> container = query<IConnectionPointContainer>(server.get());
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.put()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(point);
    point = shutdownPoint(server.get());
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IID_IOPCShutdown);
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
    EXPECT_EQ(back.get(), container.get());

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0], point.get());
    listed[0]->Release();
    EXPECT_EQ(ferrow::objectCount.load(), 2);  // the server and the enumerator
    // The point lives as long as the server: it keeps the server alive through its own reference.
    server.reset();
    container.reset();
    back.reset();
    points.reset();
    EXPECT_EQ(ferrow::objectCount.load(), 1);
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
}

TEST_F(Shutdown, SinksAreAdvisedByCookieAndReleasedOnUnadvise) {
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IConnectionPoint> point = shutdownPoint(server.get());
    ShutdownSink first, second;
    NotASink other;
    DWORD c1 = 0, c2 = 0, c3 = 5;
    EXPECT_EQ(point->Advise(&other, &c3), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(c3, 0u);
    EXPECT_EQ(point->Advise(nullptr, &c3), E_POINTER);
    ASSERT_EQ(point->Advise(&first, &c1), S_OK);
    ASSERT_EQ(point->Advise(&second, &c2), S_OK);
    EXPECT_NE(c1, c2);
    EXPECT_EQ(first.refs.load(), 2u);

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(connections.put()), S_OK);
    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[0].dwCookie, c1);
    EXPECT_EQ(data[1].dwCookie, c2);
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    EXPECT_EQ(connections->Reset(), S_OK);
    EXPECT_EQ(connections->Skip(1), S_OK);
    ComPtr<IEnumConnections> clone;
    ASSERT_EQ(connections->Clone(clone.put()), S_OK);
    EXPECT_EQ(clone->Next(1, data, nullptr), S_OK);
    EXPECT_EQ(data[0].dwCookie, c2);
    data[0].pUnk->Release();

    // The enumerators hold the sinks they list.
    connections.reset();
    clone.reset();
    EXPECT_EQ(point->Unadvise(c1), S_OK);
    EXPECT_EQ(first.refs.load(), 1u);
    EXPECT_EQ(point->Unadvise(c1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    // The final release lets go of the sinks still advised.
    point.reset();
    server.reset();
    EXPECT_EQ(second.refs.load(), 1u);
}

TEST_F(Shutdown, EverySinkOfEveryServerHearsExitingServerThenClientsAreCutOff) {
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IOPCServer> otherClient = createServer();
    ShutdownSink first, failing(E_FAIL), second, third;
    DWORD cookie1 = 0, cookie2 = 0, cookie3 = 0, cookie4 = 0;
    ASSERT_EQ(shutdownPoint(server.get())->Advise(&first, &cookie1), S_OK);
    ASSERT_EQ(shutdownPoint(server.get())->Advise(&failing, &cookie2), S_OK);
    ASSERT_EQ(shutdownPoint(server.get())->Advise(&second, &cookie3), S_OK);
    ASSERT_EQ(shutdownPoint(otherClient.get())->Advise(&third, &cookie4), S_OK);
    ComPtr<IUnknown> group;
    ASSERT_EQ(server->AddGroup(u"Kept", 1, 100, 0, nullptr, nullptr, 0, nullptr, nullptr, IID_IUnknown,
                               group.put()),
              S_OK);
    ComPtr<IOPCCommon> common = query<IOPCCommon>(server.get());
    ComPtr<IConnectionPoint> point = shutdownPoint(server.get());
    EXPECT_EQ(ferrow::objectCount.load(), 3);

    NotifyServersShutdown(u"Exiting Server");
    EXPECT_EQ(first.received(), std::vector<std::string>{"Exiting Server"});
    EXPECT_EQ(failing.received(), std::vector<std::string>{"Exiting Server"});
    EXPECT_EQ(second.received(), std::vector<std::string>{"Exiting Server"});  // after a failing sink
    EXPECT_EQ(third.received(), std::vector<std::string>{"Exiting Server"});

    DisconnectAndDeleteServers(std::chrono::milliseconds(1));
    // Destroyed although the clients still hold them: groups gone, sinks let go, nothing counted.
    EXPECT_EQ(ferrow::objectCount.load(), 0);
    EXPECT_EQ(first.refs.load(), 1u);
    EXPECT_EQ(third.refs.load(), 1u);
    EXPECT_TRUE(serverList().empty());
    // What the clients still hold answers that it is cut off, and never touches what is gone.
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
    EXPECT_EQ(status, nullptr);
    EXPECT_EQ(common->SetLocaleID(1033), RPC_E_DISCONNECTED);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(&first, &cookie), RPC_E_DISCONNECTED);
    EXPECT_EQ(first.refs.load(), 1u);
    EXPECT_EQ(otherClient->RemoveGroup(1, 0), RPC_E_DISCONNECTED);
    NotifyServersShutdown(u"Exiting Server");  // nobody is left to tell
    EXPECT_EQ(first.received().size(), 1u);
    // The clients' own releases free the memory.
    group.reset();
    point.reset();
    common.reset();
    server.reset();
    otherClient.reset();
}

// A client's shutdown sink that does not return until the test lets it go.
class StuckShutdownSink : public ShutdownSink {
  public:
    HRESULT ShutdownRequest(LPCWSTR reason) override {
        std::unique_lock lock(lock_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        lock.unlock();
        const HRESULT answer = ShutdownSink::ShutdownRequest(reason);
        lock.lock();
        answered_ = true;
        changed_.notify_all();
        return answer;
    }
    // Counted down under the lock: a waiter that sees the count cannot return, and free the sink, while
    // the releasing thread still has the lock to take.
    ULONG Release() override {
        std::lock_guard lock(lock_);
        const ULONG left = ShutdownSink::Release();
        changed_.notify_all();
        return left;
    }
    bool waitUntilEntered() {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 30s, [&] { return entered_; });
    }
    bool waitUntilAnswered() {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 30s, [&] { return answered_; });
    }
    void letGo() {
        std::lock_guard lock(lock_);
        open_ = true;
        changed_.notify_all();
    }
    // Until only the test's own reference is left (the call's thread has let go of the sink).
    bool waitForOnlyOwnReference() {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 30s, [&] { return refs.load() == 1; });
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool answered_ = false;
    bool open_ = false;
};

TEST_F(Shutdown, AClientThatDoesNotReturnKeepsNoOtherFromHearingExitingServer) {
    ComPtr<IOPCServer> slowClient = createServer();
    ComPtr<IOPCServer> otherClient = createServer();
    StuckShutdownSink stuck, other;
    other.letGo();
    DWORD cookie1 = 0, cookie2 = 0;
    ASSERT_EQ(shutdownPoint(slowClient.get())->Advise(&stuck, &cookie1), S_OK);
    ASSERT_EQ(shutdownPoint(otherClient.get())->Advise(&other, &cookie2), S_OK);

    std::thread notifier([] { NotifyServersShutdown(u"Exiting Server"); });
    ASSERT_TRUE(stuck.waitUntilEntered());
    // The first client is still inside its call while the second one hears the text.
    EXPECT_TRUE(other.waitUntilAnswered());
    EXPECT_EQ(other.received(), std::vector<std::string>{"Exiting Server"});
    stuck.letGo();
    notifier.join();
    EXPECT_EQ(stuck.received(), std::vector<std::string>{"Exiting Server"});
    DisconnectAndDeleteServers(std::chrono::milliseconds(0));
    // The server let go of its sinks, and the call's thread of its reference once it had returned.
    EXPECT_TRUE(stuck.waitForOnlyOwnReference());
    slowClient.reset();
    otherClient.reset();
}

TEST_F(Shutdown, FinalReleaseDestroysTheGroupsStillInTheMap) {
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IUnknown> group;
    ASSERT_EQ(
        server->AddGroup(u"A", 1, 100, 0, nullptr, nullptr, 0, nullptr, nullptr, IID_IUnknown, group.put()),
        S_OK);
    ASSERT_EQ(server->AddGroup(u"B", 1, 100, 0, nullptr, nullptr, 0, nullptr, nullptr, IID_IUnknown, nullptr),
              E_POINTER);
    EXPECT_EQ(ferrow::objectCount.load(), 2);
    server.reset();
    // The group the client still holds is cut off and no longer counted; its memory waits for the client.
    EXPECT_EQ(ferrow::objectCount.load(), 0);
    ComPtr<IUnknown> same;
    EXPECT_EQ(group->QueryInterface(IID_IUnknown, same.putVoid()), S_OK);
}

}  // namespace
}  // namespace opctest
