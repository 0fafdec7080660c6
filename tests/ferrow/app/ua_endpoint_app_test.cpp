// Ferrow's OPC UA endpoint in the application: it serves the open configuration whenever Ferrow runs
// (started by COM too), the command line switches it off, a port already taken is shown and Ferrow goes
// on, and the end of the application ends its sessions.
#include <QLabel>
#include <QTcpServer>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/ua_service.h"
#include "ferrow/ua/node_ids.h"
#include "tests/ferrow/app/app_fixture.h"
#include "tests/ferrow/ua_bridge/ua_session.h"

using ferrow::ua::NodeId;
using ferrowtest::FerrowAppTest;

namespace {

bool browsesDevice(ferrow::ua::test::SocketClient& client, const std::string& device) {
    ferrow::ua_bridge::test::UaSession session(client);
    for (const auto& ref : session.browse(NodeId::numericId(ferrow::ua::id::ObjectsFolder)))
        if (ref.nodeId.nodeId == NodeId::stringId(2, device)) return true;
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
    EXPECT_TRUE(browsesDevice(client, "Press"));

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

}  // namespace
