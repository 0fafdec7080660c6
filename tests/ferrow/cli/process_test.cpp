// The real programs: ferrow-opc in processes of its own against a real Ferrow on a private session bus,
// with a simulated device behind it.
#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "devsim/datapoint_service.h"
#include "ferrow/model/tdb_archive.h"
#include "tests/pavane/private_bus.h"
#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct ProgramRun {
    int status = -1;  // -1: did not end in time, or crashed
    std::string out;
    std::string err;
};

class FerrowOpcProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bus.started());
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QUILLON_PROGRAM_DIR", testsupport::freshFolder("ferrow-program"));
        env.insert("XDG_CONFIG_HOME", testsupport::freshFolder("ferrow-config"));
        env.insert("XDG_DATA_HOME", testsupport::freshFolder("ferrow-data"));
        const QString runtime = testsupport::freshFolder("ferrow-runtime");
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("TZ", "UTC0");

        // A configuration of one device at the simulated device's address.
        ferrow::TdbDocument document;
        ferrow::TdbGroup device;
        device.isDevice = true;
        device.name = "Device1";
        const QStringList octets = sim->options().address.split('.');
        for (int i = 0; i < 4; ++i) device.octets[static_cast<std::size_t>(i)] = octets[i].toStdString();
        document.root.groups.push_back(device);
        document.nextDevice = 2;
        const QString path = testsupport::freshFolder("ferrow-file") + "/plant.tdb";
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const std::string bytes = ferrow::WriteTdb(document);
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        file.close();

        ferrow.setProcessEnvironment(env);
        ferrow.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ferrow.start(FERROW_EXE, {path});
        ASSERT_TRUE(ferrow.waitForStarted(5000));
        // Up once it answers on the bus and has the device's datapoints.
        const auto end = Clock::now() + 30s;
        while (opc({"read", "--device", "Device1.Setpoint"}).status != 0) {
            ASSERT_LT(Clock::now(), end) << "Ferrow did not come up with its device";
            std::this_thread::sleep_for(100ms);
        }
    }
    void TearDown() override {
        if (ferrow.state() != QProcess::NotRunning) {
            ferrow.terminate();
            if (!ferrow.waitForFinished(10000)) ferrow.kill();
            ferrow.waitForFinished(5000);
        }
    }

    void startOpc(QProcess& process, const QStringList& args) {
        process.setProcessEnvironment(env);
        process.start(FERROW_OPC_EXE, args);
    }
    ProgramRun opc(const QStringList& args) {
        QProcess process;
        startOpc(process, args);
        return finish(process, 30s);
    }
    static ProgramRun finish(QProcess& process, std::chrono::milliseconds limit) {
        ProgramRun run;
        if (!process.waitForStarted(5000)) return run;
        const bool ended = process.waitForFinished(static_cast<int>(limit.count()));
        run.out = process.readAllStandardOutput().toStdString();
        run.err = process.readAllStandardError().toStdString();
        if (!ended) {
            process.kill();
            process.waitForFinished(5000);
            return run;
        }
        if (process.exitStatus() == QProcess::NormalExit) run.status = process.exitCode();
        return run;
    }
    // The process's output until it holds `count` lines; false after 20 s.
    static bool readLines(QProcess& process, int count, std::string* out) {
        const auto end = Clock::now() + 20s;
        while (std::count(out->begin(), out->end(), '\n') < count) {
            if (Clock::now() > end || process.state() == QProcess::NotRunning) return false;
            process.waitForReadyRead(100);
            *out += process.readAllStandardOutput().toStdString();
        }
        return true;
    }
    bool subscribed(const std::string& tag) {
        for (const std::string& entry : sim->log().entries())
            if (entry.find("chgdp/") != std::string::npos && entry.ends_with("/" + tag)) return true;
        return false;
    }
    QByteArray deviceValue(const char* name) {
        QByteArray hex;
        sim->run([&] { hex = sim->datapoints().table().find(name)->hexValue(); });
        return hex;
    }

    testsupport::PrivateBus bus;
    std::unique_ptr<devsim::SimulatedDevice> sim;
    QProcessEnvironment env;
    QProcess ferrow;
};

TEST_F(FerrowOpcProcessTest, ReadWriteAndErrorsThroughTheBus) {
    ProgramRun run = opc({"write", "Device1.Setpoint=7.25"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Device1.Setpoint = 7.25\n");
    EXPECT_EQ(deviceValue("Setpoint"), "0000E840");

    run = opc({"read", "--device", "Device1.Setpoint", "Device1.Mode"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(" Device1.Setpoint 7.25 good (0xC0)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" Device1.Mode 1 good (0xC0)\n"), std::string::npos) << run.out;

    run = opc({"browse", "--flat", "--filter", "Device1.S*"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Device1.Setpoint\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Device1.Speed\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Device1.Level"), std::string::npos) << run.out;

    run = opc({"properties", "Device1.Setpoint"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("7.25"), std::string::npos) << run.out;

    run = opc({"properties", "Device1.Nothing"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ferrow-opc: Device1.Nothing: This ItemID is not known. (0xC0040007)\n");

    run = opc({"status", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"vendorInfo\":\"Ferrow server by Morvane GmbH\""), std::string::npos) << run.out;
}

TEST_F(FerrowOpcProcessTest, WatchPrintsADeviceChangeAndCtrlCReleasesItsGroup) {
    QProcess watch;
    startOpc(watch, {"watch", "Device1.Level", "--rate", "50"});
    std::string out;
    ASSERT_TRUE(readLines(watch, 1, &out)) << out << watch.readAllStandardError().toStdString();
    EXPECT_NE(out.find(" Device1.Level 1 good (0xC0)\n"), std::string::npos) << out;

    const auto end = Clock::now() + 30s;
    while (!subscribed("Level")) {
        ASSERT_LT(Clock::now(), end) << "the watch's group never registered the tag";
        std::this_thread::sleep_for(10ms);
    }
    sim->run([&] { sim->datapoints().setValue("Level", "00001041"); });  // 9.0f
    ASSERT_TRUE(readLines(watch, 2, &out)) << out;
    EXPECT_NE(out.find(" Device1.Level 9 good (0xC0)\n"), std::string::npos) << out;

    ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
    const ProgramRun ended = finish(watch, 20s);
    EXPECT_EQ(ended.status, 0) << ended.err;
    // The group is gone from Ferrow: its end takes the registration back from the device.
    EXPECT_TRUE(sim->log().waitFor("< rem/", 30s)) << [&] {
        std::string all;
        for (const std::string& entry : sim->log().entries()) all += entry + "\n";
        return all;
    }();
}

}  // namespace
