// A broken PC program cannot make the device eat memory: every line a service reads is bounded, and a
// notification connection whose reader has stopped is closed after a bounded backlog.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTcpSocket>
#include <atomic>
#include <thread>

#include "devsim/datapoint_service.h"
#include "devsim/line_splitter.h"
#include "devsim/sql_service.h"
#include "tests/devsim/shell_client.h"
#include "tests/support/device_fixture.h"

using namespace std::chrono_literals;
using devsim::LineSplitter;

namespace {

std::vector<QByteArray> lines(LineSplitter& splitter, const QByteArray& data, int* overLong) {
    std::vector<QByteArray> out;
    for (auto& piece : splitter.feed(data)) {
        if (piece.overLong)
            ++*overLong;
        else
            out.push_back(piece.line);
    }
    return out;
}

// A blocking client of the datapoint port that reads its replies (CR LF lines).
struct DatapointClient {
    QTcpSocket socket;
    QByteArray buffer;
    bool connectTo(const QString& address) {
        socket.connectToHost(address, devsim::DatapointService::kPort);
        return socket.waitForConnected(5000);
    }
    QByteArray exchange(const QByteArray& bytes) {
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
        while (!buffer.contains("\r\n") && socket.waitForReadyRead(5000)) buffer += socket.readAll();
        const qsizetype end = buffer.indexOf("\r\n");
        if (end < 0) return "(no reply)";
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 2);
        return line;
    }
};

// A plain socket to the datapoint port, so that nothing reads it unless the test does.
int connectRaw(const QString& address, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(devsim::DatapointService::kPort);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TEST(LineSplitter, CutsLinesAtLfAndReportsEachOverLongLineOnceWhereverItIsCut) {
    LineSplitter splitter(8);
    int overLong = 0;
    EXPECT_EQ(lines(splitter, "ab\r\ncd\nexactly8\r", &overLong), (std::vector<QByteArray>{"ab", "cd"}));
    EXPECT_EQ(lines(splitter, "\n", &overLong), (std::vector<QByteArray>{"exactly8"}));
    // Nine characters, then a long line cut into many pieces without its LF: each is reported once.
    EXPECT_EQ(lines(splitter, "ninechars\nx", &overLong), std::vector<QByteArray>{});
    EXPECT_EQ(overLong, 1);
    for (int i = 0; i < 1000; ++i) lines(splitter, QByteArray(100, 'y'), &overLong);
    EXPECT_EQ(overLong, 2);
    EXPECT_EQ(lines(splitter, "tail\r\nnext\n", &overLong), (std::vector<QByteArray>{"next"}));
    EXPECT_EQ(overLong, 2);
}

TEST(LineBounds, AnOverLongShellLineThatArrivesWholeIsAnsweredAsTooLongNotRun) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    testsupport::ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("echo " + QByteArray(5000, 'x'));
    EXPECT_EQ(shell.readMessage(), "error: line too long\r\n");
    shell.sendLine("echo " + QByteArray(4000, 'y'));
    EXPECT_EQ(shell.readMessage(), QByteArray(4000, 'y') + "\r\n");
    EXPECT_FALSE(device->log().contains("< echo xxxx"));
}

TEST(LineBounds, DatapointLinesAreBoundedAndTheSessionGoesOn) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    DatapointClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    EXPECT_EQ(client.exchange("getdp/" + QByteArray(5000, 'L') + "\r\n"), "error: line too long");
    // A megabyte without an LF gets one answer, and the line after it is read as usual.
    EXPECT_EQ(client.exchange(QByteArray(1024 * 1024, 'z')), "error: line too long");
    EXPECT_EQ(client.exchange("zzz\r\ngetdp/Level\r\n"), "0000803F");
    EXPECT_TRUE(device->log().waitFor("< getdp/Level", 30s));
}

TEST(LineBounds, SqlLinesOverTheLimitAreAnsweredAsTooLong) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    testsupport::ShellClient sql;  // any byte client will do; the SQL port answers in lines
    ASSERT_TRUE(sql.connectTo(device->options().address, 5050));
    sql.socket().write("select '" + QByteArray(devsim::SqlService::kMaxLine + 10, 'q') + "'\r\n");
    sql.socket().write("select 1\r\n");
    while (sql.socket().bytesToWrite() > 0 && sql.socket().waitForBytesWritten(5000)) {
    }
    ASSERT_TRUE(device->log().waitFor("< select 1", 30s)) << device->log().tail(20);
    EXPECT_TRUE(device->log().contains("dropped an over-long line"));
    EXPECT_FALSE(device->log().contains("< select 'qqq"));
}

TEST(LineBounds, ANotificationConnectionThatStopsReadingIsClosedAfterABoundedBacklog) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    const QString address = device->options().address;
    const int stalled = connectRaw(address, 4096);
    ASSERT_GE(stalled, 0);
    ASSERT_TRUE(device->log().waitFor("datapoint", 30s));
    device->log().clear();
    const int reading = connectRaw(address, 0);
    ASSERT_GE(reading, 0);
    ASSERT_TRUE(device->log().waitFor("datapoint", 30s));  // both accepted
    std::atomic<long long> got{0};
    std::thread reader([&] {
        char buffer[65536];
        for (ssize_t n; (n = ::recv(reading, buffer, sizeof buffer, 0)) > 0;) got += n;
    });

    // The device pushes in steps; the reading connection never has more than a few steps outstanding,
    // so its backlog stays small whatever the timing, while the other takes nothing.
    const QByteArray step(32 * 1024, 'n');
    const int steps = 256;  // 8 MiB: more than the system's buffers hold for a connection
    bool readerKeptUp = true;
    for (int i = 0; i < steps && readerKeptUp; ++i) {
        device->run([&] { device->datapoints().pushRaw(step); });
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (got.load() < (i - 3LL) * step.size() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        readerKeptUp = got.load() >= (i - 3LL) * step.size();
    }
    EXPECT_TRUE(readerKeptUp);
    EXPECT_TRUE(device->log().waitFor("notification connection closed", 30s));
    // The stalled connection is gone on the device's side: it reads as closed once its data is drained.
    char sink[65536];
    ssize_t n;
    while ((n = ::recv(stalled, sink, sizeof sink, 0)) > 0) {
    }
    EXPECT_LE(n, 0);
    // The reader got every byte.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (got.load() < steps * static_cast<long long>(step.size()) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(got.load(), steps * static_cast<long long>(step.size()));
    ::shutdown(reading, SHUT_RDWR);
    reader.join();
    ::close(reading);
    ::close(stalled);
}
