#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <thread>

#include "devsim/datapoint_service.h"
#include "ferrow/bus/opc_tables.h"
#include "ferrow/model/tdb_archive.h"
#include "platform/com/dbus/local_server.h"
#include "platform/settings/settings_store.h"
#include "tests/pavane/private_bus.h"
#include "tests/support/child_processes.h"
#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

namespace ferrowbustest {

using namespace std::chrono_literals;

const QString kFerrow = QStringLiteral("org.quillon.Ferrow");

// One OPC client program running beside the test, read line by line.
class ClientProcess {
  public:
    ClientProcess(const QString& mode, const QString& item, int rate) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(OPC_BUS_CLIENT), {mode, item, QString::number(rate)});
    }
    ~ClientProcess() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }
    // The next line that starts with `prefix` (earlier lines are passed over), or nothing within `limit`.
    std::optional<QString> lineStarting(const QString& prefix, std::chrono::milliseconds limit = 20s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (process_.canReadLine()) {
                const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                lines_ << line;
                if (line.startsWith(prefix)) return line;
                if (line.startsWith(QStringLiteral("error"))) ADD_FAILURE() << line.toStdString();
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || process_.state() == QProcess::NotRunning) return std::nullopt;
            process_.waitForReadyRead(static_cast<int>(std::min<long long>(left.count(), 200)));
        }
    }
    void killHard() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(5000);
    }
    // Closes its input: it unsubscribes, releases everything and ends.
    bool finish() {
        process_.closeWriteChannel();
        return process_.waitForFinished(15000) && process_.exitCode() == 0;
    }
    const QStringList& lines() const { return lines_; }

  private:
    QProcess process_;
    QStringList lines_;
};

// Ferrow as an activatable local server on a bus of the test's own: the activation file names the built
// executable, the last configuration holds one simulated device. Ferrow is started by the first call.
class FerrowBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetFolders();
        // The Ferrow the bus starts runs its OPC UA endpoint on a free port: tests never compete for 4840.
        platform::SaveSetting(QStringLiteral("Ferrow"), QStringLiteral("UA"), QStringLiteral("Port"),
                              QStringLiteral("0"));
        const QString runtime = testsupport::freshFolder(QStringLiteral("run"));
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        qputenv("XDG_DATA_HOME", testsupport::freshFolder(QStringLiteral("data")).toLocal8Bit());
        qputenv("QUILLON_TIME_SCALE", timeScale());
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        writeConfiguration();

        const QString services = testsupport::freshFolder(QStringLiteral("services"));
        QFile service(services + QStringLiteral("/org.quillon.Ferrow.service"));
        ASSERT_TRUE(service.open(QIODevice::WriteOnly));
        service.write("[D-BUS Service]\nName=org.quillon.Ferrow\nExec=" FERROW_EXECUTABLE " -Embedding\n");
        service.close();
        // The bus starts Ferrow with the environment set above.
        bus = std::make_unique<testsupport::PrivateBus>(services);
        ASSERT_TRUE(bus->started());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toLocal8Bit());
        connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus->address(), connectionName()));
        platform::com::dbus::setClientConnection(*connection);
        ferrow::bus::enableFerrowActivation();
    }
    void TearDown() override {
        platform::com::dbus::shutdownClientNode();
        stopFerrow();
        connection.reset();
        QDBusConnection::disconnectFromBus(connectionName());
        bus.reset();
        // Servers the bus started and a failed test left behind end here, not in the next test.
        testsupport::endChildProcesses();
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qunsetenv("QUILLON_TIME_SCALE");
    }

    // Ferrow's limits shortened, but not below what a loaded machine needs: callbacks 2 s, a departed
    // client's objects kept 6 s.
    virtual QByteArray timeScale() const { return "0.2"; }
    static QString connectionName() { return QStringLiteral("ferrow-bus-test"); }

    void writeConfiguration() {
        ferrow::TdbDocument document;
        document.nextDevice = 2;
        document.root.name = "Group";
        ferrow::TdbGroup device;
        device.isDevice = true;
        device.name = "Device1";
        const QStringList octets = sim->options().address.split(QLatin1Char('.'));
        device.octets = {"127", "0", "0", "1"};
        for (int i = 0; i < 4; ++i) device.octets[static_cast<std::size_t>(i)] = octets[i].toStdString();
        document.root.groups.push_back(device);
        const std::string bytes = ferrow::WriteTdb(document);
        const QString path = testsupport::freshFolder(QStringLiteral("files")) + QStringLiteral("/plant.tdb");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        file.close();
        platform::SaveSetting(QStringLiteral("Ferrow"), QStringLiteral("Recent File List"),
                              QStringLiteral("File1"), path);
    }

    bool ferrowRunning() { return connection->interface()->isServiceRegistered(kFerrow).value(); }

    void stopFerrow() {
        if (!connection || !ferrowRunning()) return;
        const uint pid = connection->interface()->servicePid(kFerrow).value();
        if (pid == 0) return;
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        // The test process adopts what the bus's launcher leaves behind, so Ferrow may be its child.
        for (int i = 0; i < 3000 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i) {
            if (::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == static_cast<pid_t>(pid)) break;
            std::this_thread::sleep_for(10ms);
        }
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(kFerrow, path, interface, method);
        message.setArguments(arguments);
        return connection->call(message, QDBus::Block, 30000);
    }
    // The objects Ferrow serves now, by number. The folder lists a client only its own objects, so each
    // path is asked in turn (numbers are handed out in order and never again).
    QStringList exportedObjects() {
        QStringList names;
        for (int number = 1; number <= 200; ++number) {
            const QString path = QStringLiteral("/org/quillon/com/obj/%1").arg(number);
            if (call(path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                     QStringLiteral("Introspect"))
                    .type() == QDBusMessage::ReplyMessage)
                names << QString::number(number);
        }
        return names;
    }
    // Sets the device's Setpoint to a single-precision value.
    void setSetpoint(float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        char hex[9];
        std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", bits & 0xFF, (bits >> 8) & 0xFF,
                      (bits >> 16) & 0xFF, bits >> 24);
        sim->run([&] { sim->datapoints().setValue("Setpoint", hex); });
    }

    std::unique_ptr<devsim::SimulatedDevice> sim;
    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<QDBusConnection> connection;
};

// Polls `done` until it holds or `limit` passes.
template <class Done>
bool eventually(Done done, std::chrono::milliseconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

}  // namespace ferrowbustest
