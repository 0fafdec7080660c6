#include "devsim/tcp_listener.h"

#include <gtest/gtest.h>

#include <QTcpSocket>
#include <chrono>
#include <memory>
#include <string>

#include "devsim/client_sessions.h"
#include "devsim/device_log.h"
#include "platform/ui/wait.h"
#include "tests/support/test_environment.h"

using namespace devsim;
using namespace std::chrono_literals;

namespace {

struct Session {
    QPointer<QTcpSocket> socket;
    std::string peer;
};

// A service in miniature: a listener on a port of its own and the records of its clients.
struct EchoService : QObject {
    static constexpr quint16 kPort = 47123;
    DeviceLog log;
    ClientSessions<Session> sessions{*this, log, "echo"};
    TcpListener listener{this, kPort, "echo", [this](QTcpSocket* socket) { sessions.add(socket); }};
};

bool waitUntil(const std::function<bool()>& done) { return platform::ui::waitUntil(done, 30s); }

}  // namespace

TEST(TcpListener, ClientsAreRecordedWhileConnectedAndLoggedAsTheyComeAndGo) {
    EchoService service;
    const QHostAddress address(testsupport::uniqueLoopbackAddress());
    QString error;
    ASSERT_TRUE(service.listener.listen(address, &error)) << error.toStdString();
    EXPECT_TRUE(service.listener.listen(address, &error));  // listening already: nothing to do

    QTcpSocket client;
    client.connectToHost(address, EchoService::kPort);
    ASSERT_TRUE(waitUntil([&] { return service.sessions.all().size() == 1; }));
    EXPECT_TRUE(service.log.contains("echo " + service.sessions.all()[0]->peer + " connected"));
    client.disconnectFromHost();
    ASSERT_TRUE(waitUntil([&] { return service.sessions.all().empty(); }));
    EXPECT_TRUE(service.log.contains(" closed"));
}

TEST(TcpListener, ASecondListenerOnTheSamePortNamesTheServiceAndPort) {
    EchoService first;
    EchoService second;
    const QHostAddress address(testsupport::uniqueLoopbackAddress());
    QString error;
    ASSERT_TRUE(first.listener.listen(address, &error));
    EXPECT_FALSE(second.listener.listen(address, &error));
    EXPECT_TRUE(error.startsWith("echo port 47123: ")) << error.toStdString();
}

TEST(TcpListener, ClosingAllSessionsEndsEveryClientsConnection) {
    EchoService service;
    const QHostAddress address(testsupport::uniqueLoopbackAddress());
    ASSERT_TRUE(service.listener.listen(address, nullptr));
    QTcpSocket client;
    client.connectToHost(address, EchoService::kPort);
    ASSERT_TRUE(waitUntil([&] { return service.sessions.all().size() == 1; }));
    service.listener.close();
    service.sessions.closeAll();
    EXPECT_TRUE(service.sessions.all().empty());
    EXPECT_TRUE(waitUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; }));
}
