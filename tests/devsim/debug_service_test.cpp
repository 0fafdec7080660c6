#include "devsim/debug_service.h"

#include <gtest/gtest.h>

#include <QTcpSocket>

#include "devsim/debug_flood.h"
#include "devsim/simulated_device.h"
#include "tests/devsim/shell_client.h"
#include "tests/support/device_fixture.h"

namespace devsim {
namespace {

using namespace std::chrono_literals;

class DebugClient {
  public:
    bool connectTo(const QString& address) {
        socket_.connectToHost(address, DebugService::kPort);
        return socket_.waitForConnected(5000);
    }
    // Reads until `done` says the text so far is enough; false when the stream went quiet first.
    bool readUntil(const std::function<bool(const QByteArray&)>& done) {
        while (!done(text)) {
            if (!socket_.waitForReadyRead(5000)) return false;
            text += socket_.readAll();
        }
        return true;
    }
    QByteArray text;

  private:
    QTcpSocket socket_;
};

TEST(DebugService, streamsWhatTheDeviceDoesAndAHeartbeat) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    DebugClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    ASSERT_TRUE(client.readUntil([](const QByteArray& t) { return t.contains(" connected\r\n"); }));
    testsupport::ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("echo hello");
    ASSERT_TRUE(client.readUntil([](const QByteArray& t) { return t.contains("< echo hello\r\n"); }));
    device->run([&] { device->debug().setHeartbeatInterval(50ms); });
    ASSERT_TRUE(client.readUntil([](const QByteArray& t) { return t.contains(" heartbeat 1: up "); }));
}

TEST(DebugService, aFloodIsThePatternExactlyAndOtherTextWaitsBehindIt) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    device->run([&] { device->debug().setHeartbeatInterval(0ms); });
    DebugClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    ASSERT_TRUE(client.readUntil([](const QByteArray& t) { return t.endsWith(" connected\r\n"); }));
    client.text.clear();

    constexpr qint64 kBytes = 3 * 1024 * 1024 + 17;
    device->run([&] {
        device->debug().startFlood(kBytes);
        device->debug().send("after the flood\r\n");
    });
    ASSERT_TRUE(client.readUntil([](const QByteArray& t) { return t.size() >= kBytes + 17; }));
    FloodPattern pattern;
    EXPECT_TRUE(client.text.left(kBytes) == pattern.take(kBytes));
    EXPECT_EQ(client.text.mid(kBytes), "after the flood\r\n");
    EXPECT_TRUE(client.text.startsWith("flood 0000000000 "));
}

}  // namespace
}  // namespace devsim
