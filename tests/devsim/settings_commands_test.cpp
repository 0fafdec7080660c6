#include <gtest/gtest.h>

#include <QDateTime>
#include <QThread>

#include "platform/ui/time_scale.h"
#include "tests/devsim/shell_client.h"
#include "tests/support/device_fixture.h"

using testsupport::ShellClient;

namespace {
QByteArray ask(ShellClient& client, const QByteArray& line) {
    client.sendLine(line);
    return client.readMessage();
}
}  // namespace

TEST(DeviceSettings, AddressesAnswerGetAndOnlyPersistentOnesSurviveAReboot) {
    platform::setTimeScale(0.05);
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    const QByteArray own = device->options().address.toLatin1();
    ShellClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    EXPECT_EQ(ask(client, "ip get"), own + "\r\n");
    EXPECT_EQ(ask(client, "Subnet get"), "255.255.255.0\r\n");
    EXPECT_EQ(ask(client, "Gateway get"), own.left(own.lastIndexOf('.') + 1) + "254\r\n");

    EXPECT_EQ(ask(client, "ip set 10.0.0.7"),
              "success: IP address set to 10.0.0.7 (until the next boot)\r\n");
    EXPECT_EQ(ask(client, "Subnet set -p 255.255.0.0"),
              "success: subnet mask set to 255.255.0.0 (kept in flash)\r\n");
    EXPECT_EQ(ask(client, "Gateway set -p 10.0.0.1"),
              "success: gateway address set to 10.0.0.1 (kept in flash)\r\n");
    EXPECT_EQ(ask(client, "ip get"), "10.0.0.7\r\n");
    EXPECT_EQ(ask(client, "ip set 10.0.0.300"), "error: '10.0.0.300' is not an address\r\n");
    EXPECT_EQ(ask(client, "ip"), "error: usage: ip get|set [-p ]<a.b.c.d>\r\n");

    client.sendLine("boot -w");
    EXPECT_EQ(client.readMessage(), "notify: warm boot in progress\r\n");
    ASSERT_TRUE(client.waitForClose());
    ShellClient again;
    for (int i = 0; i < 1500 && !again.connectTo(device->options().address); ++i) QThread::msleep(20);
    EXPECT_EQ(ask(again, "ip get"), own + "\r\n");
    EXPECT_EQ(ask(again, "Subnet get"), "255.255.0.0\r\n");
    EXPECT_EQ(ask(again, "Gateway get"), "10.0.0.1\r\n");
    platform::setTimeScale(1.0);
}

TEST(DeviceSettings, ClockAnswersDateBlankTimeAndTakesTheSetForm) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    ShellClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    const QByteArray now = ask(client, "clock get");
    ASSERT_EQ(now.size(), 21) << now.toStdString();
    const QDateTime reported =
        QDateTime::fromString(QString::fromLatin1(now.left(19)), "dd.MM.yyyy hh:mm:ss");
    EXPECT_LT(std::abs(reported.secsTo(QDateTime::currentDateTime())), 5);

    EXPECT_EQ(ask(client, "clock set 9:5:3 5.3.2004"), "success: clock set to 05.03.2004 09:05:03\r\n");
    EXPECT_TRUE(ask(client, "clock get").startsWith("05.03.2004 09:05:0"));
    EXPECT_EQ(ask(client, "clock set 25:00:00 5.3.2004"),
              "error: usage: clock get | clock set <h:m:s> <d.m.yyyy>\r\n");
    EXPECT_EQ(ask(client, "clock set 9:5:3 31.2.2004"),
              "error: usage: clock get | clock set <h:m:s> <d.m.yyyy>\r\n");
}
