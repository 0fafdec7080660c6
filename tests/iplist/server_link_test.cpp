#include "iplist/server_link.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QHostAddress>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/net/tcp_client.h"
#include "platform/ui/wait.h"
#include "tests/support/test_environment.h"

using iplist::ServerLink;
using namespace std::chrono_literals;

namespace {

// The server row of a window, with a listening device on a loopback address of the test's own.
struct ServerRow {
    QComboBox addresses;
    QPushButton button{QStringLiteral("Connect")};
    platform::net::TcpClient socket;
    QTimer watch;
    QTcpServer device;
    QStringList shown;
    std::vector<ServerLink::Change> changes;
    std::unique_ptr<ServerLink> link;

    ServerRow() {
        addresses.setEditable(true);
        addresses.addItem(QStringLiteral("10.0.0.1"));
        device.listen(QHostAddress(testsupport::uniqueLoopbackAddress()));
        watch.setInterval(10);
        QObject::connect(&watch, &QTimer::timeout, [this] { changes.push_back(link->poll()); });
        link = std::make_unique<ServerLink>(addresses, button, socket, watch, device.serverPort(),
                                            [this](const QString& text) { shown << text; });
    }
};

bool waitUntil(const std::function<bool()>& done) { return platform::ui::waitUntil(done, 30s); }

}  // namespace

TEST(ServerLink, ConnectAdoptsTheTypedAddressAndLocksTheListUntilDisconnect) {
    ServerRow row;
    ASSERT_TRUE(row.device.isListening());
    const QString address = row.device.serverAddress().toString();
    row.addresses.setEditText(QStringLiteral(" ") + address + QStringLiteral(" "));
    ASSERT_TRUE(row.link->offersConnect());

    row.link->connect();
    EXPECT_EQ(row.link->state(), ServerLink::Connecting);
    EXPECT_EQ(row.addresses.itemText(row.addresses.count() - 1), address);
    EXPECT_FALSE(row.addresses.isEnabled());
    EXPECT_FALSE(row.link->offersConnect());
    EXPECT_TRUE(row.watch.isActive());
    ASSERT_TRUE(waitUntil([&] { return row.link->state() == ServerLink::Connected; }));
    EXPECT_EQ(row.shown, QStringList({"Connecting to " + address, "Connected"}));

    row.link->disconnect();
    EXPECT_EQ(row.link->state(), ServerLink::Idle);
    EXPECT_TRUE(row.addresses.isEnabled());
    EXPECT_TRUE(row.link->offersConnect());
    EXPECT_EQ(row.shown.last(), "Disonnected");
    EXPECT_TRUE(waitUntil([&] { return !row.watch.isActive(); }));
}

TEST(ServerLink, ALinkTheDeviceClosesIsReportedLostOnceAndTheWatchStops) {
    ServerRow row;
    ASSERT_TRUE(row.device.isListening());
    row.addresses.setEditText(row.device.serverAddress().toString());
    row.link->connect();
    ASSERT_TRUE(waitUntil([&] { return row.device.hasPendingConnections(); }));
    ASSERT_TRUE(waitUntil([&] { return row.link->state() == ServerLink::Connected; }));
    std::unique_ptr<QTcpSocket> peer(row.device.nextPendingConnection());
    peer->close();

    ASSERT_TRUE(waitUntil([&] { return row.link->state() == ServerLink::Idle; }));
    EXPECT_TRUE(waitUntil([&] { return !row.watch.isActive(); }));
    EXPECT_EQ(std::count(row.changes.begin(), row.changes.end(), ServerLink::Change::Up), 1);
    EXPECT_EQ(std::count(row.changes.begin(), row.changes.end(), ServerLink::Change::Lost), 1);
    // The button is left saying Disconnect: the window decides what a lost link shows.
    EXPECT_FALSE(row.link->offersConnect());
}
