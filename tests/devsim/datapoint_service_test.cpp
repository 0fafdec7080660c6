#include "devsim/datapoint_service.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTcpSocket>

#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

namespace {

// A blocking line client for the datapoint port.
class LineClient {
  public:
    bool connectTo(const QString& address) {
        socket_.connectToHost(address, 4224);
        return socket_.waitForConnected(5000);
    }
    void send(const QByteArray& line) {
        socket_.write(line + "\r\n");
        socket_.waitForBytesWritten(5000);
    }
    // The next line without CR LF; `timedOut` when none came.
    QByteArray readLine(int timeoutMs = 5000) {
        timedOut = false;
        for (;;) {
            const qsizetype end = buffer_.indexOf("\r\n");
            if (end >= 0) {
                const QByteArray line = buffer_.left(end);
                buffer_.remove(0, end + 2);
                return line;
            }
            if (!socket_.waitForReadyRead(timeoutMs)) {
                timedOut = true;
                return {};
            }
            buffer_ += socket_.readAll();
        }
    }
    QByteArray exchange(const QByteArray& line) {
        send(line);
        return readLine();
    }
    QByteArray rawAvailable(int timeoutMs) {
        socket_.waitForReadyRead(timeoutMs);
        return buffer_ + socket_.readAll();
    }
    bool waitForClose() {
        return socket_.state() == QAbstractSocket::UnconnectedState || socket_.waitForDisconnected(5000);
    }
    bool timedOut = false;

  private:
    QTcpSocket socket_;
    QByteArray buffer_;
};

struct Linked {
    std::unique_ptr<devsim::SimulatedDevice> device = testsupport::startDevice();
    LineClient command;
    LineClient notify;
    bool open() {
        const QString address = device->options().address;
        if (!command.connectTo(address) || !notify.connectTo(address)) return false;
        return command.exchange("simulate/off") == "ok";  // marks the command connection
    }
};

}  // namespace

TEST(DatapointService, EnumeratesTheDemoTable) {
    Linked link;
    ASSERT_TRUE(link.open());
    QList<QByteArray> entries;
    for (int n = 0;; ++n) {
        const QByteArray reply = link.command.exchange("dpid/" + QByteArray::number(n));
        if (reply.isEmpty()) break;
        entries << reply;
    }
    EXPECT_TRUE(entries.contains("Level/4/0"));
    EXPECT_TRUE(entries.contains("Valve/11/1"));
    QSet<QByteArray> typesIn, typesOut;
    for (const auto& e : entries) (e.endsWith("/0") ? typesIn : typesOut) << e.split('/')[1];
    EXPECT_EQ(typesIn, (QSet<QByteArray>{"2", "3", "4", "11", "17"}));
    EXPECT_EQ(typesOut, (QSet<QByteArray>{"2", "3", "4", "11", "17"}));
    EXPECT_EQ(link.command.exchange("dpid/x"), "");
}

TEST(DatapointService, ReadsWritesAndRefusesInputs) {
    Linked link;
    ASSERT_TRUE(link.open());
    EXPECT_EQ(link.command.exchange("getdp/Level"), "0000803F");
    EXPECT_EQ(link.command.exchange("getdp/Nothing"), "");
    EXPECT_EQ(link.command.exchange("setdp/Level/00000040"), "");  // an input
    EXPECT_EQ(link.command.exchange("setdp/Speed/0400"), "ok");
    EXPECT_EQ(link.command.exchange("getdp/Speed"), "0400");
    EXPECT_EQ(link.command.exchange("setdp/Speed/zz"), "");
    EXPECT_EQ(link.command.exchange("bogus"), "error");
}

TEST(DatapointService, PushesChangesOfSubscribedTagsOnTheNotificationConnection) {
    Linked link;
    ASSERT_TRUE(link.open());
    EXPECT_EQ(link.command.exchange("chgdp/5/Speed"), "ok");
    EXPECT_EQ(link.command.exchange("chgdp/5/Nothing"), "");
    EXPECT_EQ(link.command.exchange("setdp/Mode/02"), "ok");  // not subscribed: no line
    EXPECT_EQ(link.command.exchange("setdp/Speed/0500"), "ok");
    EXPECT_EQ(link.notify.readLine(), "chg/5/Speed/0500");
    EXPECT_EQ(link.command.exchange("rem/5"), "ok");
    EXPECT_EQ(link.command.exchange("setdp/Speed/0600"), "ok");
    link.notify.readLine(300);
    EXPECT_TRUE(link.notify.timedOut);
}

TEST(DatapointService, SimulationMovesSubscribedValues) {
    Linked link;
    ASSERT_TRUE(link.open());
    EXPECT_EQ(link.command.exchange("chgdp/0/Counter"), "ok");
    EXPECT_EQ(link.command.exchange("simulate/on"), "ok");
    EXPECT_TRUE(link.notify.readLine().startsWith("chg/0/Counter/"));
    EXPECT_EQ(link.command.exchange("simulate/off"), "ok");
    bool stopped = false;
    link.device->run([&] { stopped = !link.device->datapoints().simulating(); });
    EXPECT_TRUE(stopped);
}

TEST(DatapointService, ScriptedFaults) {
    Linked link;
    ASSERT_TRUE(link.open());
    auto& faults = link.device->datapoints().faults();
    faults.overlongReply = true;
    EXPECT_EQ(link.command.exchange("getdp/Level").size(), 200);
    faults.overlongReply = false;
    faults.loneCrReply = true;
    link.command.send("getdp/Level");
    EXPECT_EQ(link.command.rawAvailable(2000), "0000803F\r");
    faults.loneCrReply = false;
    faults.silent = true;
    link.command.send("getdp/Level");
    EXPECT_TRUE(link.device->log().waitFor("< getdp/Level", std::chrono::seconds(5)));
    link.device->run([&] { link.device->datapoints().pushRaw("a\rb"); });
    EXPECT_EQ(link.notify.rawAvailable(2000), "a\rb");
    link.device->run([&] { link.device->datapoints().closeNotificationConnections(); });
    EXPECT_TRUE(link.notify.waitForClose());
    link.device->run([&] { link.device->datapoints().closeCommandConnections(); });
    EXPECT_TRUE(link.command.waitForClose());
}

TEST(DatapointService, LoadsATableFile) {
    const QString folder = testsupport::freshFolder("table");
    QFile file(folder + "/points.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# two points\nFlow/3/0/2A000000\n\nGate/11/1\n");
    file.close();
    devsim::DatapointTable table;
    QString error;
    ASSERT_TRUE(devsim::DatapointTable::load(folder + "/points.txt", &table, &error)) << error.toStdString();
    ASSERT_EQ(table.size(), 2);
    EXPECT_EQ(table.at(0)->hexValue(), "2A000000");
    EXPECT_EQ(table.at(1)->hexValue(), "0000");
    QFile bad(folder + "/bad.txt");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("Flow/9/0\n");
    bad.close();
    EXPECT_FALSE(devsim::DatapointTable::load(folder + "/bad.txt", &table, &error));
    EXPECT_TRUE(error.contains("line 1"));
}
