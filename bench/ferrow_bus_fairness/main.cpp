// Fairness of Ferrow's bus server, each figure beside its baseline from the same run, on a dbus-daemon
// of the benchmark's own with Ferrow's bus server in this process: a client's GetStatus while the
// server is idle, then while another client holds 40 Advise calls whose sink never answers
// QueryInterface and floods 5 000 calls; and `ferrow-opc status` (a process of its own) both ways.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/ferrow_common/bench_bus.h"
#include "bench/ferrow_common/bench_support.h"
#include "ferrow/bus/ferrow_bus_server.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/com/guid.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;
using ferrowbench::Clock;
using ferrowbench::micros;

const QString kFerrow = QStringLiteral("org.quillon.Ferrow");
const QString kServer = QStringLiteral("org.quillon.com.IOPCServer");

// A sink that takes every call and never answers.
class SilentSink final : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

QDBusMessage call(QDBusConnection& c, const QString& path, const QString& interface, const QString& method,
                  const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kFerrow, path, interface, method);
    message.setArguments(args);
    return c.call(message, QDBus::Block, 30000);
}

QString pathOf(const QDBusMessage& reply, int at) {
    return qvariant_cast<QDBusObjectPath>(reply.arguments().value(at)).path();
}

QString createServer(QDBusConnection& c) {
    return pathOf(call(c, QStringLiteral("/org/quillon/com/ClassObject"),
                       QStringLiteral("org.quillon.com.IClassFactory"), QStringLiteral("CreateInstance"),
                       {QString::fromStdString(formatGuid(ferrow::opc::IID_IOPCServer))}),
                  1);
}

// The median time of `count` GetStatus calls, in microseconds, and the longest.
std::pair<double, double> getStatus(QDBusConnection& c, const QString& server, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        const QDBusMessage reply = call(c, server, kServer, QStringLiteral("GetStatus"));
        times.push_back(micros(Clock::now() - t0));
        if (reply.type() != QDBusMessage::ReplyMessage)
            std::printf("GetStatus failed: %s\n", qPrintable(reply.errorName()));
    }
    const double longest = *std::max_element(times.begin(), times.end());
    return {ferrowbench::median(times), longest};
}

double opcStatusSeconds(const QString& address) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(FERROW_OPC_EXECUTABLE), {QStringLiteral("status")});
    if (!process.waitForFinished(60000)) process.kill();
    process.waitForFinished(5000);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (process.exitCode() != 0)
        std::printf("ferrow-opc status failed (%d): %s\n", process.exitCode(),
                    process.readAllStandardError().constData());
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int samples = argc > 1 ? std::atoi(argv[1]) : 300;
    ferrowbench::BenchBus daemon;
    if (daemon.address.isEmpty()) return 1;
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.address.toLocal8Bit());
    // Ferrow's document, without devices: GetStatus needs no more.
    auto doc = std::make_unique<ferrow::CDoc>();
    DWORD cookie = 0;
    RegisterServerClassObject(&cookie);
    {
        ferrow::bus::FerrowBusServer busServer;
        QString error;
        if (!busServer.Start(&error)) {
            std::fprintf(stderr, "bus: %s\n", qPrintable(error));
            return 1;
        }
        QDBusConnection victim = QDBusConnection::connectToBus(daemon.address, QStringLiteral("victim"));
        QDBusConnection attacker = QDBusConnection::connectToBus(daemon.address, QStringLiteral("attacker"));
        const QString victimServer = createServer(victim);
        getStatus(victim, victimServer, 50);  // warm up
        const auto [idle, idleLongest] = getStatus(victim, victimServer, samples);
        const double idleOpc = opcStatusSeconds(daemon.address);

        // The attacker: a group's data callback point, 40 Advise calls with a sink that never answers,
        // then a flood of 5 000 calls.
        SilentSink sink;
        attacker.registerVirtualObject(QStringLiteral("/sink"), &sink);
        const QString attackerServer = createServer(attacker);
        const QDBusMessage group =
            call(attacker, attackerServer, kServer, QStringLiteral("AddGroup"),
                 {QStringLiteral("held"), true, uint{1000}, uint{1}, QVariant::fromValue(QList<int>{}),
                  QVariant::fromValue(QList<double>{}), uint{0},
                  QString::fromStdString(formatGuid(ferrow::opc::IID_IOPCItemMgt))});
        const QDBusMessage point =
            call(attacker, pathOf(group, 3), QStringLiteral("org.quillon.com.IConnectionPointContainer"),
                 QStringLiteral("FindConnectionPoint"),
                 {QString::fromStdString(formatGuid(ferrow::opc::IID_IOPCDataCallback))});
        const QString pointPath = pathOf(point, 1);
        std::vector<QDBusPendingCall> pending;
        for (int i = 0; i < 40; ++i) {
            QDBusMessage advise = QDBusMessage::createMethodCall(
                kFerrow, pointPath, QStringLiteral("org.quillon.com.IConnectionPoint"),
                QStringLiteral("Advise"));
            advise << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/sink")));
            pending.push_back(attacker.asyncCall(advise, 60000));
        }
        for (int i = 0; i < 5000; ++i)
            pending.push_back(attacker.asyncCall(
                QDBusMessage::createMethodCall(kFerrow, attackerServer, kServer, QStringLiteral("GetStatus")),
                60000));
        const auto [loaded, loadedLongest] = getStatus(victim, victimServer, samples);
        const double loadedOpc = opcStatusSeconds(daemon.address);
        std::printf("GetStatus of another client, median of %d (longest):\n", samples);
        std::printf("  idle server:                       %8.1f us (%.1f us)\n", idle, idleLongest);
        std::printf("  40 held Advise + 5 000-call flood: %8.1f us (%.1f us); ratio %.2f (target <= 2)\n",
                    loaded, loadedLongest, loaded / idle);
        std::printf("ferrow-opc status: idle %.3f s, under the same load %.3f s (target < 1 s)\n", idleOpc,
                    loadedOpc);
        int refused = 0, answered = 0;
        for (QDBusPendingCall& p : pending) {
            p.waitForFinished();
            (p.isError() ? refused : answered) += 1;
        }
        std::printf("attacker: %d calls answered, %d refused or failed (its queue holds 256)\n", answered,
                    refused);
        attacker.unregisterObject(QStringLiteral("/sink"));
        busServer.Stop();
        DisconnectAndDeleteServers(std::chrono::milliseconds(0));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("victim"));
    QDBusConnection::disconnectFromBus(QStringLiteral("attacker"));
    RevokeServerClassObject(cookie);
    return 0;
}
