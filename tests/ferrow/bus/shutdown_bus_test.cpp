// Ferrow's COM server thread with the bus: the name is owned while it runs; at its end remote clients
// hear "Exiting Server", their next calls fail with RPC_E_DISCONNECTED and the name is given up.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <mutex>
#include <thread>

#include "ferrow/app/com_server_thread.h"
#include "ferrow/app/opc_binding.h"
#include "ferrow/bus/opc_tables.h"
#include "ferrow/opc/object_count.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dbus/local_server.h"
#include "platform/ui/time_scale.h"
#include "tests/platform/com/dbus/test_bus.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;
using namespace std::chrono_literals;

const QString kFerrow = QStringLiteral("org.quillon.Ferrow");

class ShutdownSink final : public ComObject<IOPCShutdown> {
  public:
    HRESULT ShutdownRequest(LPCWSTR reason) override {
        std::lock_guard guard(lock);
        reasons.push_back(ansiFromWide(wideView(reason)));
        return S_OK;
    }
    std::mutex lock;
    std::vector<std::string> reasons;
};

template <class Done>
bool eventually(Done done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

TEST(FerrowBusShutdown, RemoteClientsHearExitingServerThenTheirCallsFailAndTheNameIsGivenUp) {
    bustest::TestBus bus;
    ASSERT_TRUE(bus.started());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
    {
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("shutdown-client"));
        platform::com::dbus::setClientConnection(connection);
        ferrow::bus::registerOpcTables();

        ferrow::ComServerThread thread(ferrow::opcServerHooks());
        thread.Start();
        ASSERT_TRUE(eventually([&] { return connection.interface()->isServiceRegistered(kFerrow).value(); }));
        const QString owner = connection.interface()->serviceOwner(kFerrow).value();

        ComPtr<IClassFactory> factory;
        ASSERT_EQ(platform::com::dbus::clientNode()->importObject(
                      owner, QDBusObjectPath(QStringLiteral("/org/quillon/com/ClassObject")),
                      IID_IClassFactory, true, factory.putVoid()),
                  S_OK);
        ComPtr<IOPCServer> server;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, server.putVoid()), S_OK);
        ComPtr<IOPCGroupStateMgt> group;
        OPCHANDLE handle = 0;
        DWORD rate = 0;
        ASSERT_EQ(server->AddGroup(u"Line", 1, 100, 1, nullptr, nullptr, 0, &handle, &rate,
                                   IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(group.put())),
                  S_OK);
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(server->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.put()), S_OK);
        ComPtr<ShutdownSink> sink(new ShutdownSink);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
        EXPECT_EQ(ferrow::objectCount.load(), 2);  // the server and its group

        // Short limits for the shutdown under test only: the clients' second becomes 200 ms.
        platform::setTimeScale(0.2);
        ASSERT_TRUE(thread.Stop());
        {
            std::lock_guard guard(sink->lock);
            EXPECT_EQ(sink->reasons, std::vector<std::string>{"Exiting Server"});
        }
        OPCSERVERSTATUS* status = nullptr;
        EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
        EXPECT_EQ(status, nullptr);
        EXPECT_EQ(group->SetName(u"Other"), RPC_E_DISCONNECTED);
        EXPECT_FALSE(connection.interface()->isServiceRegistered(kFerrow).value());
        EXPECT_EQ(ferrow::objectCount.load(), 0);
        point.reset();
        container.reset();
        group.reset();
        server.reset();
        factory.reset();
        platform::com::dbus::shutdownClientNode();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("shutdown-client"));
    platform::setTimeScale(1.0);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
