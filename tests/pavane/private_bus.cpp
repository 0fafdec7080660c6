#include "tests/pavane/private_bus.h"

#include <QFile>

#include "tests/support/test_environment.h"

namespace testsupport {

QString PrivateBus::writeConfig(const QString& serviceDir, bool userDirs) {
    const QString path = freshFolder(QStringLiteral("bus")) + QStringLiteral("/bus.conf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    QByteArray text =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n  <type>session</type>\n  <listen>unix:tmpdir=/tmp</listen>\n  <auth>EXTERNAL</auth>\n"
        // A session bus's own limit of calls awaiting replies on one connection (the built-in one is 128).
        "  <limit name=\"max_replies_per_connection\">50000</limit>\n";
    if (!serviceDir.isEmpty()) text += "  <servicedir>" + serviceDir.toUtf8() + "</servicedir>\n";
    if (userDirs) text += "  <standard_session_servicedirs/>\n";
    text +=
        "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
    file.write(text);
    return path;
}

PrivateBus::PrivateBus(const QString& serviceDir, bool userDirs)
    : configFile_(writeConfig(serviceDir, userDirs)) {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + configFile_, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(5000)) return;
    // The first line the daemon prints is its address.
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(3000)) daemon_.kill();
        daemon_.waitForFinished(3000);
    }
}

}  // namespace testsupport
