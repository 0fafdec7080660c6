#pragma once

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "devsim/simulated_device.h"
#include "ferrow/bus/ferrow_bus_server.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/object_count.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dbus/local_server.h"
#include "tests/platform/com/dbus/test_bus.h"
#include "tests/support/device_fixture.h"

namespace bustest {

// Ferrow's bus side in this process, on a private bus, with a document that links one simulated device
// (its tags loaded) and the server's class object registered. The test sets the bus server up as it needs
// (limits) and starts it; everything is taken down again in the order it was made.
class InProcessFerrowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ferrow::setTraceOutput(&quiet_);
        ASSERT_TRUE(bus.started());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        doc = std::make_unique<ferrow::CDoc>(ferrow::MakeLinkedDevice);
        device = doc->AddDevice([&](ferrow::ODevice& d) {
            const QStringList octets = sim->options().address.split('.');
            for (int i = 0; i < 4; ++i)
                d.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
            return true;
        });
        ASSERT_TRUE(device);
        for (int i = 0; i < 3000 && !device->IsConnected(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GT(ferrow::LinkOf(*device).LoadTags(), 0);
        ASSERT_EQ(ferrow::opc::RegisterServerClassObject(&classCookie_), platform::com::S_OK);
        busServer = std::make_unique<ferrow::bus::FerrowBusServer>();
    }

    void TearDown() override {
        if (!clientName_.isEmpty()) platform::com::dbus::shutdownClientNode();
        if (busServer) busServer->Stop();
        ferrow::opc::DisconnectAndDeleteServers(std::chrono::milliseconds(0));
        if (classCookie_) ferrow::opc::RevokeServerClassObject(classCookie_);
        if (!clientName_.isEmpty()) QDBusConnection::disconnectFromBus(clientName_);
        busServer.reset();
        doc.reset();
        sim.reset();
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        ferrow::setTraceOutput(nullptr);
        ferrow::objectCount = 0;
    }

    // Starts the bus server and connects this process's client connection, the one its proxies of remote
    // objects use, under `name`.
    QDBusConnection startServing(const QString& name) {
        EXPECT_TRUE(busServer->Start());
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), name);
        platform::com::dbus::setClientConnection(connection);
        clientName_ = name;
        return connection;
    }
    // A server object, made through the class object as a client of this process makes it.
    platform::com::ComPtr<ferrow::opc::IOPCServer> createServer() {
        platform::com::ComPtr<ferrow::opc::IOPCServer> server;
        EXPECT_EQ(platform::com::CoCreateInstance(ferrow::opc::CLSID_FerrowServer, nullptr,
                                                  platform::com::CLSCTX_LOCAL_SERVER,
                                                  ferrow::opc::IID_IOPCServer, server.putVoid()),
                  platform::com::S_OK);
        return server;
    }
    // The unique name Ferrow's bus server answers on.
    QString ferrowName() const { return busServer->node()->connection().baseService(); }

    TestBus bus;
    std::unique_ptr<devsim::SimulatedDevice> sim;
    std::unique_ptr<ferrow::CDoc> doc;
    ferrow::ODevice* device = nullptr;
    std::unique_ptr<ferrow::bus::FerrowBusServer> busServer;

  private:
    struct Quiet : ferrow::TraceOutput {
        void Write(std::string_view) override {}
    };
    Quiet quiet_;
    std::uint32_t classCookie_ = 0;
    QString clientName_;
};

}  // namespace bustest
