#include "platform/net/udp_socket.h"

#include <gtest/gtest.h>

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QUdpSocket>
#include <atomic>
#include <functional>
#include <thread>

#include "platform/ui/wait.h"
#include "tests/support/test_environment.h"
#include "tests/support/udp_peer.h"

using namespace std::chrono_literals;
using platform::net::UdpSocket;
using testsupport::UdpPeer;

namespace {

constexpr quint16 kPort = 4242;

// A socket on a loopback address of its own, sending to `peerAddress`.
void aim(UdpSocket& socket, const QString& peerAddress) {
    socket.setLocalAddress(QHostAddress(testsupport::uniqueLoopbackAddress()));
    socket.setLocalPort(kPort);
    socket.setRemoteHost(peerAddress);
    socket.setRemotePort(kPort);
}

// Sends numbered requests, the next from inside the event of the answer to the one before, as a
// stop-and-wait sender does.
struct Exchange {
    Exchange(UdpSocket& socket, int count) : socket(socket), count(count) {
        socket.setReplyWait(2ms);
        QObject::connect(&socket, &UdpSocket::dataArrival, [this] {
            answers.push_back(this->socket.GetData());
            if (onAnswer) onAnswer();
            if (sent < this->count && sending) send();
        });
    }
    void send() {
        ASSERT_TRUE(socket.SendData(UdpPeer::number(sent++)));
        socket.awaitReply();
    }
    UdpSocket& socket;
    int count;
    int sent = 0;
    bool sending = true;
    std::vector<QByteArray> answers;
    std::function<void()> onAnswer;
};

}  // namespace

TEST(UdpSocket, SendsToTheRemoteAndHandsOverEachDatagramWithItsSender) {
    const QString peerAddress = testsupport::uniqueLoopbackAddress();
    UdpPeer peer(peerAddress, kPort, [](int, const QByteArray& d) { return d + "!"; });
    UdpSocket socket;
    aim(socket, peerAddress);
    QByteArray got;
    QObject::connect(&socket, &UdpSocket::dataArrival, [&](qint64 size) {
        EXPECT_EQ(size, 6);
        got = socket.GetData();
        EXPECT_EQ(socket.GetData(), QByteArray());  // once only
    });
    ASSERT_TRUE(socket.SendData("hello"));
    ASSERT_TRUE(platform::ui::waitUntil([&] { return !got.isEmpty(); }, 30s));
    EXPECT_EQ(got, "hello!");
    EXPECT_EQ(socket.RemoteHostIP(), peerAddress);
    EXPECT_EQ(peer.received(), std::vector<QByteArray>{"hello"});
}

TEST(UdpSocket, APortHeldByAnotherSocketIsNotShared) {
    const QString local = testsupport::uniqueLoopbackAddress();
    QUdpSocket squatter;
    ASSERT_TRUE(squatter.bind(QHostAddress(local), kPort, QAbstractSocket::DontShareAddress));
    UdpSocket socket;
    socket.setLocalAddress(QHostAddress(local));
    socket.setLocalPort(kPort);
    platform::net::SocketError error;
    EXPECT_FALSE(socket.Bind(&error));
    EXPECT_EQ(error.number, platform::net::sckerr::AddressInUse);
    EXPECT_EQ(error.description, "Address in use");
    EXPECT_FALSE(socket.isBound());
    squatter.close();
    EXPECT_TRUE(socket.Bind());
    // Any address, or none, is any IPv4 address.
    for (const QHostAddress& any : {QHostAddress(QHostAddress::Any), QHostAddress()}) {
        UdpSocket anywhere;
        anywhere.setLocalAddress(any);
        EXPECT_TRUE(anywhere.Bind());
    }
}

TEST(UdpSocket, AnswersWaitedForInPlaceStillLetTheEventLoopRun) {
    const QString peerAddress = testsupport::uniqueLoopbackAddress();
    // Every answer takes a millisecond: forty of them outlast the in-place slice.
    UdpPeer peer(peerAddress, kPort, [](int, const QByteArray& d) {
        std::this_thread::sleep_for(1ms);
        return UdpPeer::acknowledge(d);
    });
    UdpSocket socket;
    aim(socket, peerAddress);
    Exchange exchange(socket, 40);
    int answersWhenPostedEventRan = -1;
    exchange.onAnswer = [&] {
        if (exchange.answers.size() == 1)
            QTimer::singleShot(0, &socket, [&] { answersWhenPostedEventRan = int(exchange.answers.size()); });
    };
    exchange.send();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return exchange.answers.size() == 40; }, 30s));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(exchange.answers[i], UdpPeer::number(i));
    EXPECT_GT(answersWhenPostedEventRan, 0);
    EXPECT_LT(answersWhenPostedEventRan, 40);
}

TEST(UdpSocket, AnAnswerThatDoesNotComeInTimeArrivesAsAnEventLater) {
    const QString peerAddress = testsupport::uniqueLoopbackAddress();
    std::atomic<bool> answerLate{false};
    UdpPeer peer(peerAddress, kPort, [&](int index, const QByteArray& d) -> std::optional<QByteArray> {
        if (index == 1) {
            while (!answerLate) std::this_thread::sleep_for(1ms);  // until the test has seen the loop run
        }
        return UdpPeer::acknowledge(d);
    });
    const auto release = qScopeGuard([&] { answerLate = true; });  // before the peer's thread is joined
    UdpSocket socket;
    aim(socket, peerAddress);
    Exchange exchange(socket, 2);
    bool eventLoopRan = false;
    exchange.onAnswer = [&] {
        if (exchange.answers.size() == 1) QTimer::singleShot(0, &socket, [&] { eventLoopRan = true; });
    };
    exchange.send();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return eventLoopRan; }, 30s));
    EXPECT_EQ(exchange.answers.size(), 1u);
    answerLate = true;
    ASSERT_TRUE(platform::ui::waitUntil([&] { return exchange.answers.size() == 2; }, 30s));
    EXPECT_EQ(exchange.answers[1], UdpPeer::number(1));
}

TEST(UdpSocket, ClosingFromTheEventWhileAnAnswerIsDueEndsTheWaitAndTheNextSendBindsAgain) {
    const QString peerAddress = testsupport::uniqueLoopbackAddress();
    // The send that the program closes the socket after gets no answer, so none can reach the next one.
    UdpPeer peer(peerAddress, kPort, [](int index, const QByteArray& d) -> std::optional<QByteArray> {
        if (index == 3) return std::nullopt;
        return UdpPeer::acknowledge(d);
    });
    UdpSocket socket;
    aim(socket, peerAddress);
    Exchange exchange(socket, 100);
    exchange.onAnswer = [&] {
        if (exchange.answers.size() != 3) return;
        exchange.send();  // an answer is due, but the program lets the port go at once
        exchange.sending = false;
        socket.Close();
    };
    exchange.send();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return !socket.isBound(); }, 30s));
    QTimer lookAgain;  // the peer's thread wakes nothing here
    lookAgain.start(5);
    ASSERT_TRUE(platform::ui::waitUntil([&] { return peer.received().size() == 4; }, 30s));
    EXPECT_EQ(exchange.answers.size(), 3u);
    exchange.sending = true;
    exchange.count = 6;
    exchange.send();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return exchange.answers.size() == 5; }, 30s));
    EXPECT_EQ(exchange.answers[3], UdpPeer::number(4));
    EXPECT_EQ(exchange.answers[4], UdpPeer::number(5));
}
