#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace ferrowbench {

// A dbus-daemon of the benchmark's own, with a session bus's limits on connections and on the calls
// awaiting replies on one connection (the daemon's built-in ones are 256 connections per user and 128
// replies); `address` is empty when it did not start.
class BenchBus {
  public:
    BenchBus() {
        const QString config = dir_.path() + QStringLiteral("/bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) return;
        file.write(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
            "<limit name=\"max_replies_per_connection\">50000</limit>"
            "<limit name=\"max_connections_per_user\">100000</limit>"
            "<limit name=\"max_completed_connections\">100000</limit>"
            "<limit name=\"max_incomplete_connections\">10000</limit>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
            "</busconfig>\n");
        file.close();
        process_.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        if (!process_.waitForStarted(5000)) return;
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        address = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~BenchBus() {
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(3000);
    }
    BenchBus(const BenchBus&) = delete;
    BenchBus& operator=(const BenchBus&) = delete;

    QString address;

  private:
    QTemporaryDir dir_;
    QProcess process_;
};

}  // namespace ferrowbench
