#include "devsim/sql_service.h"

#include <gtest/gtest.h>

#include <QTcpSocket>

#include "devsim/simulated_device.h"
#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

namespace devsim {
namespace {

// A blocking client of the SQL port: one request line, then everything that arrives until `ending`.
class SqlClient {
  public:
    bool connectTo(const QString& address) {
        socket_.connectToHost(address, SqlService::kPort);
        return socket_.waitForConnected(5000);
    }
    QByteArray ask(const QByteArray& line, const QByteArray& ending = ")\r\n", int timeoutMs = 5000) {
        socket_.write(line + "\r\n");
        socket_.waitForBytesWritten(5000);
        QByteArray answer;
        while (!answer.endsWith(ending) && socket_.waitForReadyRead(timeoutMs)) answer += socket_.readAll();
        return answer;
    }

  private:
    QTcpSocket socket_;
};

TEST(SqlService, answersTheSchemaWithTablesAndColumnsThenAnEmptyLine) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    SqlClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    const QByteArray schema = client.ask("#schema", "\r\n\r\n");
    EXPECT_TRUE(schema.startsWith("#TABLESensors\r\n#ITEMId\r\n#ITEMName\r\n#ITEMUnit\r\n#ITEMStation\r\n"))
        << schema.toStdString();
    EXPECT_TRUE(schema.contains("\r\n#TABLEAlarms\r\n#ITEMId\r\n#ITEMText\r\n"));
    EXPECT_TRUE(schema.endsWith("\r\n\r\n"));
    EXPECT_EQ(schema.count("\r\n\r\n"), 1);
}

TEST(SqlService, runsStatementsForRealAndKeepsChangesInTheRootFolder) {
    const QString root = testsupport::freshFolder("sqlroot");
    {
        DeviceOptions options;
        options.root = root;
        auto device = testsupport::startDevice(options);
        ASSERT_TRUE(device);
        SqlClient client;
        ASSERT_TRUE(client.connectTo(device->options().address));
        EXPECT_EQ(client.ask("SELECT Name, Unit FROM Sensors WHERE Id = 2;"),
                  "Name | Unit\r\nFlow | m3/h\r\n(1 row)\r\n");
        EXPECT_EQ(client.ask("INSERT INTO Alarms VALUES (3, 'Door open', 3, 1);", "affected\r\n"),
                  "OK, 1 row affected\r\n");
        EXPECT_EQ(client.ask("SELECT * FROM Nowhere;", "\r\n"), "error: no such table: Nowhere\r\n");
        EXPECT_TRUE(device->log().contains("< SELECT * FROM Nowhere;"));
    }
    DeviceOptions options;
    options.root = root;
    auto device = testsupport::startDevice(options);
    ASSERT_TRUE(device);
    SqlClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    EXPECT_EQ(client.ask("SELECT Text FROM Alarms WHERE Id = 3"), "Text\r\nDoor open\r\n(1 row)\r\n");
}

TEST(SqlService, aSilentDeviceReadsButDoesNotAnswer) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    device->sql().faults().silent = true;
    SqlClient client;
    ASSERT_TRUE(client.connectTo(device->options().address));
    EXPECT_EQ(client.ask("SELECT 1;", ")\r\n", 300), "");
    EXPECT_TRUE(device->log().contains("< SELECT 1;"));
}

}  // namespace
}  // namespace devsim
