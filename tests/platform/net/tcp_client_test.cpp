#include "platform/net/tcp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/wait.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"

using namespace std::chrono_literals;
using platform::net::TcpClient;

namespace {
constexpr quint16 kPort = 4212;

bool waitForSignal(QSignalSpy& spy, int count = 1) {
    return platform::ui::waitUntil([&] { return spy.count() >= count; }, 30s);
}
}  // namespace

TEST(TcpClient, ConnectSendReceiveAndPeerClose) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    ASSERT_TRUE(peer.listening());
    TcpClient client;
    QSignalSpy connected(&client, &TcpClient::connected);
    QSignalSpy arrived(&client, &TcpClient::dataArrival);
    QSignalSpy closed(&client, &TcpClient::closed);
    QSignalSpy errors(&client, &TcpClient::error);

    client.Connect(address, kPort);
    EXPECT_EQ(client.state(), TcpClient::Connecting);
    ASSERT_TRUE(waitForSignal(connected));
    EXPECT_EQ(client.state(), TcpClient::Connected);
    EXPECT_EQ(client.RemoteHostIP(), address);
    EXPECT_EQ(client.RemotePort(), kPort);

    ASSERT_TRUE(client.SendData("ip get\r\n"));
    EXPECT_TRUE(peer.waitForReceived("ip get\r\n"));

    ASSERT_TRUE(peer.waitForConnections(1));
    peer.send(QByteArray("10.0.0.1\r\n\0", 11));
    ASSERT_TRUE(waitForSignal(arrived));
    EXPECT_EQ(client.GetData(), QByteArray("10.0.0.1\r\n\0", 11));

    peer.close();
    ASSERT_TRUE(waitForSignal(closed));
    EXPECT_EQ(errors.count(), 0);
    EXPECT_EQ(client.state(), TcpClient::Closing);
    client.Close();
    EXPECT_EQ(client.state(), TcpClient::Closed);
}

TEST(TcpClient, GetDataIntoABufferAppendsWhatArrivedAfterWhatItHeld) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    TcpClient client;
    QSignalSpy connected(&client, &TcpClient::connected);
    QSignalSpy arrived(&client, &TcpClient::dataArrival);
    QByteArray buffer = "kept|";
    EXPECT_EQ(client.GetData(buffer), 0);  // no connection: nothing, and nothing lost
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    ASSERT_TRUE(peer.waitForConnections(1));
    const QByteArray large(200000, 'z');
    peer.send("ok\r\n" + large);
    ASSERT_TRUE(platform::ui::waitUntil(
        [&] {
            client.GetData(buffer);
            return buffer.size() >= 5 + 4 + large.size();
        },
        5s));
    EXPECT_EQ(buffer, "kept|ok\r\n" + large);
    EXPECT_EQ(client.GetData(buffer), 0);
    EXPECT_GE(arrived.count(), 1);
}

TEST(TcpClient, DirectReadsHandOverEverythingAndThenThePeersClose) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    TcpClient client;
    client.setDirectReads(true);
    QSignalSpy connected(&client, &TcpClient::connected);
    QSignalSpy closed(&client, &TcpClient::closed);
    QSignalSpy errors(&client, &TcpClient::error);
    QByteArray got;
    QObject::connect(&client, &TcpClient::dataArrival, [&](qint64 total) {
        EXPECT_EQ(total, client.BytesReceived());
        client.GetData(got);
    });
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    ASSERT_TRUE(client.SendData("getfile x\r\n"));
    EXPECT_TRUE(peer.waitForReceived("getfile x\r\n"));
    // More than one read takes, and the close right behind it: every byte comes before the close event.
    QByteArray large(3 * TcpClient::kDirectReadChunk + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i % 253);
    peer.send(large);
    peer.close();
    ASSERT_TRUE(waitForSignal(closed));
    EXPECT_EQ(got, large);
    EXPECT_EQ(errors.count(), 0);
    EXPECT_EQ(client.state(), TcpClient::Closing);
    EXPECT_FALSE(client.SendData("ack\r\n"));
    client.Close();
    EXPECT_EQ(client.state(), TcpClient::Closed);
    EXPECT_EQ(client.GetData(), QByteArray());
}

TEST(TcpClient, SendWhileNotConnectedReportsAnErrorToTheCaller) {
    TcpClient client;
    platform::net::SocketError error;
    EXPECT_FALSE(client.SendData("x\r\n", &error));
    EXPECT_EQ(error.number, platform::net::sckerr::WrongState);
    EXPECT_FALSE(error.description.isEmpty());
}

TEST(TcpClient, RefusedConnectionGivesAnErrorEventWithNumberAndDescription) {
    TcpClient client;
    QSignalSpy errors(&client, &TcpClient::error);
    client.Connect(testsupport::uniqueLoopbackAddress(), kPort);  // nobody listens there
    ASSERT_TRUE(waitForSignal(errors));
    EXPECT_EQ(errors[0][0].toInt(), platform::net::sckerr::ConnectionRefused);
    EXPECT_EQ(errors[0][1].toString(), "Connection is forcefully rejected");
    EXPECT_EQ(client.state(), TcpClient::Error);
    client.Close();
    EXPECT_EQ(client.state(), TcpClient::Closed);
}

TEST(TcpClient, CloseThenConnectAtOnceUsesAFreshConnection) {
    const QString first = testsupport::uniqueLoopbackAddress();
    const QString second = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer a(first, kPort), b(second, kPort);
    TcpClient client;
    QSignalSpy connected(&client, &TcpClient::connected);
    client.Connect(first, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    client.Close();
    client.Connect(second, kPort);
    ASSERT_TRUE(waitForSignal(connected, 2));
    EXPECT_EQ(client.RemoteHostIP(), second);
    EXPECT_TRUE(a.waitForPeerClose());
}

TEST(TcpClient, ConnectWhileConnectedIsRefusedWithAnEvent) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    TcpClient client;
    QSignalSpy connected(&client, &TcpClient::connected);
    QSignalSpy errors(&client, &TcpClient::error);
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    client.Connect(address, kPort);
    EXPECT_EQ(errors.count(), 0);  // never from inside the call
    ASSERT_TRUE(waitForSignal(errors));
    EXPECT_EQ(errors[0][0].toInt(), platform::net::sckerr::InvalidOperation);
}

TEST(TcpClient, ABoundedReadBufferHandsOverLargeDataInBoundedSteps) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    TcpClient client;
    client.setReadBufferSize(1000);
    QSignalSpy connected(&client, &TcpClient::connected);
    QByteArray received;
    qsizetype largest = 0;
    QObject::connect(&client, &TcpClient::dataArrival, [&] {
        const QByteArray chunk = client.GetData();
        largest = std::max(largest, chunk.size());
        received += chunk;
    });
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    ASSERT_TRUE(peer.waitForConnections(1));
    const QByteArray sent(50000, 'x');
    peer.send(sent);
    EXPECT_TRUE(platform::ui::waitUntil([&] { return received.size() == sent.size(); }, 30s));
    EXPECT_LE(largest, 1000);
}

namespace {

// A client in a stop-and-wait exchange with a peer that answers every read with "pong": each "pong"
// that arrives sends the next "ping" from inside its event and says a reply is due.
struct PingPong {
    explicit PingPong(TcpClient& client, int rounds) : client(client), rounds(rounds) {
        client.setDirectReads(true);
        client.setReplyWait(2ms);
        QObject::connect(&client, &TcpClient::dataArrival, [this] {
            received += this->client.GetData();
            ++events;
            if (onEvent) onEvent();
            if (received.count("pong\r\n") < this->rounds && sending) ping();
        });
    }
    void ping() {
        ASSERT_TRUE(client.SendData("ping\r\n"));
        client.awaitReply();
    }
    TcpClient& client;
    int rounds;
    bool sending = true;
    int events = 0;
    QByteArray received;
    std::function<void()> onEvent;
};

}  // namespace

TEST(TcpClient, RepliesWaitedForInPlaceStillLetTheEventLoopRun) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    // A slow device: every answer takes a millisecond, so forty of them outlast the in-place slice.
    peer.setResponder([](const QByteArray&) {
        std::this_thread::sleep_for(1ms);
        return QByteArray("pong\r\n");
    });
    TcpClient client;
    PingPong exchange(client, 40);
    int pongsWhenPostedEventRan = -1;
    exchange.onEvent = [&] {
        if (exchange.events == 1)
            QTimer::singleShot(0, &client,
                               [&] { pongsWhenPostedEventRan = int(exchange.received.count("pong")); });
    };
    QSignalSpy connected(&client, &TcpClient::connected);
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    exchange.ping();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return exchange.received.count("pong\r\n") == 40; }, 30s));
    EXPECT_EQ(exchange.received, QByteArray("pong\r\n").repeated(40));
    EXPECT_TRUE(peer.waitForReceived(QByteArray("ping\r\n").repeated(40)));
    // The event posted during the first answer ran while the exchange was still going on.
    EXPECT_GT(pongsWhenPostedEventRan, 0);
    EXPECT_LT(pongsWhenPostedEventRan, 40);
}

TEST(TcpClient, AReplyThatDoesNotComeInTimeArrivesAsAnEventLater) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    TcpClient client;
    PingPong exchange(client, 2);
    bool eventLoopRan = false;
    exchange.onEvent = [&] {
        if (exchange.events == 1) QTimer::singleShot(0, &client, [&] { eventLoopRan = true; });
    };
    QSignalSpy connected(&client, &TcpClient::connected);
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    ASSERT_TRUE(peer.waitForConnections(1));
    peer.send("pong\r\n");  // unasked: the client answers with a ping, which the peer leaves unanswered
    ASSERT_TRUE(peer.waitForReceived("ping\r\n"));
    ASSERT_TRUE(platform::ui::waitUntil([&] { return eventLoopRan; }, 30s));
    EXPECT_EQ(exchange.events, 1);
    peer.send("pong\r\n");
    ASSERT_TRUE(platform::ui::waitUntil([&] { return exchange.events == 2; }, 30s));
    EXPECT_EQ(exchange.received, "pong\r\npong\r\n");
}

TEST(TcpClient, APeerThatClosesWhileAReplyIsAwaitedIsReportedAsAClose) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    TcpClient client;
    PingPong exchange(client, 10);
    QSignalSpy connected(&client, &TcpClient::connected);
    QSignalSpy closed(&client, &TcpClient::closed);
    QSignalSpy errors(&client, &TcpClient::error);
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    ASSERT_TRUE(peer.waitForConnections(1));
    peer.send("pong\r\n");
    ASSERT_TRUE(peer.waitForReceived("ping\r\n"));
    peer.close();
    ASSERT_TRUE(waitForSignal(closed));
    EXPECT_EQ(errors.count(), 0);
    EXPECT_EQ(exchange.received, "pong\r\n");
}

TEST(TcpClient, ClosingFromTheEventWhileAReplyIsDueEndsTheWait) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, kPort);
    peer.setResponder([](const QByteArray&) { return QByteArray("pong\r\n"); });
    TcpClient client;
    PingPong exchange(client, 100);
    exchange.onEvent = [&] {
        if (exchange.events < 3) return;
        exchange.ping();  // a reply is due, but the window closes the connection at once
        exchange.sending = false;
        client.Close();
    };
    QSignalSpy connected(&client, &TcpClient::connected);
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    exchange.ping();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return client.state() == TcpClient::Closed; }, 30s));
    EXPECT_TRUE(peer.waitForPeerClose());
    EXPECT_EQ(exchange.events, 3);
    EXPECT_EQ(client.GetData(), QByteArray());
}

TEST(TcpClient, ALargeSendOnAConnectionThatWaitsInPlaceReturnsBeforeItIsAllOut) {
    // The peer reads nothing until SendData has returned, so a send that insists on putting all
    // 16 MiB out before it returns can only come back (after the reader's hang limit) with nothing
    // left to write.
    const QString address = testsupport::uniqueLoopbackAddress();
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(kPort);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &endpoint.sin_addr);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&endpoint), sizeof endpoint), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::atomic<qint64> taken{0};
    std::mutex gate;
    std::condition_variable sendReturnedChanged;
    bool sendReturned = false;
    std::thread reader([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        {
            std::unique_lock lock(gate);
            sendReturnedChanged.wait_for(lock, 60s, [&] { return sendReturned; });
        }
        std::vector<char> chunk(65536);
        for (ssize_t got = 1; got > 0;) {
            got = ::recv(fd, chunk.data(), chunk.size(), 0);
            if (got > 0) taken += got;
        }
        ::close(fd);
    });
    const auto cleanup = qScopeGuard([&] {
        {
            std::lock_guard lock(gate);
            sendReturned = true;
        }
        sendReturnedChanged.notify_all();
        reader.join();
        ::close(listener);
    });

    TcpClient client;
    client.setDirectReads(true);
    client.setReplyWait(2ms);
    QSignalSpy connected(&client, &TcpClient::connected);
    client.Connect(address, kPort);
    ASSERT_TRUE(waitForSignal(connected));
    const QByteArray large(16 << 20, 'q');
    ASSERT_TRUE(client.SendData(large));
    EXPECT_GT(client.BytesToWrite(), 0);
    {
        std::lock_guard lock(gate);
        sendReturned = true;
    }
    sendReturnedChanged.notify_all();
    // The rest goes out from the socket's write events.
    QTimer lookAgain;  // the reader's thread wakes nothing here
    lookAgain.start(5);
    EXPECT_TRUE(platform::ui::waitUntil([&] { return taken.load() == large.size(); }, 60s));
    client.Close();
}
