#include "devsim/shell_service.h"

#include <gtest/gtest.h>

#include <QTcpSocket>
#include <QThread>

#include "platform/ui/time_scale.h"
#include "tests/devsim/shell_client.h"
#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

using namespace std::chrono_literals;
using testsupport::ShellClient;

TEST(DevsimShell, AnswersEachLineWithNulTerminatedMessagesOnSeveralConnections) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    ShellClient a, b;
    ASSERT_TRUE(a.connectTo(device->options().address));
    ASSERT_TRUE(b.connectTo(device->options().address));
    a.sendLine("echo one");
    b.sendLine("echo two");
    EXPECT_EQ(a.readMessage(), "one\r\n");
    EXPECT_EQ(b.readMessage(), "two\r\n");
    a.sendLine("help");
    const QByteArray help = a.readMessage();
    EXPECT_TRUE(help.contains("boot -w|-c|-f"));
    // Help and log are plain text: no status word, so the PC shows and logs them.
    EXPECT_FALSE(help.contains("error") || help.contains("success") || help.contains("notify"));
}

TEST(DevsimShell, UnknownCommandsGetAnErrorMessageAndCommandWordsIgnoreCase) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("frobnicate now");
    EXPECT_TRUE(shell.readMessage().startsWith("error"));
    shell.sendLine("ECHO Hi");
    EXPECT_EQ(shell.readMessage(), "Hi\r\n");
}

TEST(DevsimShell, LogReturnsWhatTheDeviceReceived) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("echo marker-123");
    shell.readMessage();
    shell.sendLine("log");
    const QByteArray log = shell.readMessage();
    EXPECT_TRUE(log.contains("< echo marker-123\r\n"));
    EXPECT_TRUE(device->log().contains("< log"));
}

TEST(DevsimShell, BootClosesEveryShellConnectionAndAcceptsAgainAfterTheRebootDelay) {
    devsim::DeviceOptions options;
    options.rebootDelay = 300ms;
    auto device = testsupport::startDevice(options);
    ASSERT_TRUE(device);
    ShellClient a, b;
    ASSERT_TRUE(a.connectTo(device->options().address));
    ASSERT_TRUE(b.connectTo(device->options().address));
    a.sendLine("boot -w");
    EXPECT_TRUE(a.readMessage().startsWith("notify"));
    EXPECT_TRUE(a.waitForClose());
    EXPECT_TRUE(b.waitForClose());
    EXPECT_EQ(device->bootCount(), 1);
    EXPECT_TRUE(device->log().waitFor("device is up again", 30s));
    ShellClient c;
    ASSERT_TRUE(c.connectTo(device->options().address));
    c.sendLine("echo back");
    EXPECT_EQ(c.readMessage(), "back\r\n");
}

TEST(DevsimShell, BootWithoutAKindIsRefused) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("boot -x");
    EXPECT_TRUE(shell.readMessage().startsWith("error"));
    EXPECT_EQ(device->bootCount(), 0);
}

TEST(DevsimShell, SilentFaultReadsButNeverAnswers) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    device->shell().faults().silent = true;
    ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("echo x");
    EXPECT_TRUE(device->log().waitFor("< echo x", 30s));
    shell.readMessage(300);
    EXPECT_TRUE(shell.timedOut);
}

TEST(DevsimShell, CloseAfterBytesFaultCutsTheAnswer) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    device->shell().faults().closeAfterBytes = 3;
    ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("echo abcdef");
    EXPECT_TRUE(shell.waitForClose());
    EXPECT_EQ(shell.socket().readAll(), "abc");
}

TEST(DevsimShell, AnOverLongLineIsDroppedWithAnErrorAndTheSessionGoesOn) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.socket().write(QByteArray(100000, 'x'));
    shell.sendLine("");
    EXPECT_TRUE(shell.readMessage().startsWith("error: line too long"));
    shell.sendLine("echo still here");
    EXPECT_EQ(shell.readMessage(), "still here\r\n");
}

TEST(DevsimShell, ADataConnectionIsPairedWithTheCommandThatAnnouncedIt) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    // A command that sends its answer over the data connection it announced.
    device->run([&] {
        device->shell().addCommand("probe", "probe", [&](devsim::ShellSession& session, const QByteArray&) {
            device->shell().claimDataConnection(session, 5s, [&session](QTcpSocket* data) {
                if (!data) return session.sendMessage("error: no data connection\r\n");
                data->write("DATA");
                data->disconnectFromHost();
                QObject::connect(data, &QTcpSocket::disconnected, data, &QObject::deleteLater);
                session.sendMessage("success\r\n");
            });
        });
    });
    // The data connection may arrive after the command ...
    ShellClient shell, data;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("probe");
    ASSERT_TRUE(data.connectTo(device->options().address));
    EXPECT_EQ(shell.readMessage(), "success\r\n");
    ASSERT_TRUE(data.waitForClose());
    EXPECT_EQ(data.socket().readAll(), "DATA");
    // ... or before it: once the device has taken it in (its log shows a third shell connection).
    const auto shellConnections = [&] {
        int count = 0;
        for (const std::string& entry : device->log().entries())
            count += entry.starts_with("shell ") && entry.ends_with(" connected");
        return count;
    };
    ShellClient early;
    ASSERT_TRUE(early.connectTo(device->options().address));
    for (int i = 0; i < 3000 && shellConnections() < 3; ++i) QThread::msleep(10);
    ASSERT_EQ(shellConnections(), 3);
    shell.sendLine("probe");
    EXPECT_EQ(shell.readMessage(), "success\r\n");
    ASSERT_TRUE(early.waitForClose());
    EXPECT_EQ(early.socket().readAll(), "DATA");
}

TEST(DevsimShell, AMissingDataConnectionEndsTheClaimAfterItsLimit) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    device->run([&] {
        device->shell().addCommand("probe", "probe", [&](devsim::ShellSession& session, const QByteArray&) {
            device->shell().claimDataConnection(session, 200ms, [&session](QTcpSocket* data) {
                session.sendMessage(data ? "success\r\n" : "error: no data connection\r\n");
            });
        });
    });
    ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("probe");
    EXPECT_EQ(shell.readMessage(), "error: no data connection\r\n");
}

TEST(DevsimShell, TwoDevicesRunSideBySide) {
    auto first = testsupport::startDevice();
    auto second = testsupport::startDevice();
    ASSERT_TRUE(first && second);
    ShellClient a, b;
    ASSERT_TRUE(a.connectTo(first->options().address));
    ASSERT_TRUE(b.connectTo(second->options().address));
    a.sendLine("echo A");
    b.sendLine("echo B");
    EXPECT_EQ(a.readMessage(), "A\r\n");
    EXPECT_EQ(b.readMessage(), "B\r\n");
    EXPECT_TRUE(first->log().contains("echo A"));
    EXPECT_FALSE(first->log().contains("echo B"));
}
