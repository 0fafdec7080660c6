// Ferrow's OPC UA endpoint in the application: it serves the open configuration whenever Ferrow runs
// (started by COM too), the command line switches it off, a port already taken is shown and Ferrow goes
// on, and the end of the application ends its sessions.
#include <QLabel>
#include <QTcpServer>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/ua_service.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/status_codes.h"
#include "tests/ferrow/app/app_fixture.h"
#include "tests/ferrow/ua_bridge/ua_session.h"
#include "tests/support/device_fixture.h"

using ferrow::ua::NodeId;
using namespace std::chrono_literals;
using ferrowtest::FerrowAppTest;

namespace {

// Whether `parent` holds a node named `name`, waiting (with a limit that only bounds a hang) for the
// endpoint to take over the configuration.
bool holdsNode(ferrow::ua::test::SocketClient& client, const NodeId& parent, const std::string& name) {
    ferrow::ua_bridge::test::UaSession session(client);
    for (int i = 0; i < 1000; ++i) {
        for (const auto& ref : session.browse(parent))
            if (ref.browseName.name == name) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_F(FerrowAppTest, TheEndpointServesTheConfigurationWhenStartedByComUntilFerrowEnds) {
    const QString plant = writeConfiguration(QStringLiteral("plant.tdb"), {"Press"});
    auto& app = start({QStringLiteral("-Embedding"), plant});
    ASSERT_NE(app.uaService(), nullptr);
    ASSERT_NE(app.uaService()->port(), 0);
    EXPECT_TRUE(app.uaService()->endpointUrl().startsWith(QStringLiteral("opc.tcp://")));

    ferrow::ua::test::SocketClient client;
    ASSERT_TRUE(client.connectTo(app.uaService()->port()));
    ASSERT_TRUE(client.openChannel());
    ASSERT_TRUE(client.openSession());
    EXPECT_TRUE(holdsNode(client, NodeId::numericId(ferrow::ua::id::ObjectsFolder), "Press"));

    app.ExitInstance();
    EXPECT_EQ(app.uaService(), nullptr);
    EXPECT_TRUE(client.waitClosed());
}

TEST_F(FerrowAppTest, TheCommandLineSwitchesTheEndpointOffAndItsValuesAreNoFileName) {
    auto& off = start({QStringLiteral("--no-ua")});
    ASSERT_NE(off.uaService(), nullptr);
    EXPECT_EQ(off.uaService()->port(), 0);
    off.ExitInstance();

    auto& on = start({QStringLiteral("--ua-port"), QStringLiteral("0"), QStringLiteral("--ua-listen"),
                      QStringLiteral("127.0.0.1")});
    EXPECT_EQ(on.mainFrame()->windowTitle(), QStringLiteral("Untitled - Morvane Ferrow Server"));
    EXPECT_NE(on.uaService()->port(), 0);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(FerrowAppTest, APortAlreadyTakenIsShownInTheStatusBarAndFerrowGoesOn) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    auto& app = start({QStringLiteral("--ua-listen"), QStringLiteral("127.0.0.1"),
                       QStringLiteral("--ua-port"), QString::number(taken.serverPort())});
    EXPECT_EQ(app.uaService()->port(), 0);
    EXPECT_TRUE(
        app.mainFrame()->m_wndMessagePane->text().startsWith(QStringLiteral("OPC UA endpoint not started")));
    EXPECT_TRUE(app.comThreadRunning());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(FerrowAppTest, TheConfigurationIsNotReplacedWhileAUaClientWatchesItsTags) {
    const auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    auto& app = start({QStringLiteral("-Embedding")});
    ferrow::ODevice* device = app.document()->AddDevice([&](ferrow::ODevice& d) {
        const QStringList octets = sim->options().address.split('.');
        for (int i = 0; i < 4; ++i)
            d.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
        return true;
    });
    ASSERT_TRUE(device);
    for (int i = 0; i < 1000 && !device->IsConnected(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(device->IsConnected());
    ASSERT_GT(ferrow::LinkOf(*device).LoadTags(), 0);

    ferrow::ua::test::SocketClient client;
    ASSERT_TRUE(client.connectTo(app.uaService()->port()));
    ASSERT_TRUE(client.openChannel());
    ASSERT_TRUE(client.openSession());
    ASSERT_TRUE(holdsNode(client, NodeId::stringId(2, "Device1"), "Level"));
    ferrow::ua_bridge::test::UaSession session(client);
    const std::uint32_t subscription = session.subscribe();
    ASSERT_EQ(session.monitor(subscription, NodeId::stringId(2, "Device1.Level"), 1),
              ferrow::ua::status::Good);

    // New would delete the tags under the watch.
    EXPECT_FALSE(app.document()->OnNewDocument());
    EXPECT_EQ(app.document()->DeviceCount(), 1u);

    EXPECT_EQ(session.deleteSubscription(subscription), ferrow::ua::status::Good);
    for (int i = 0; i < 1000 && app.uaService()->holdsTags(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(app.document()->OnNewDocument());
    EXPECT_EQ(app.document()->DeviceCount(), 0u);
}

}  // namespace
