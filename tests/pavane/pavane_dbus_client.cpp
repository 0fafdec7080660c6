// A client of Pavane's automation class, as another program would be: creates a Download object,
// calls SetSource(Ip, Path) and reports how the call ended (exit status 0 when it returned normally).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: pavane_dbus_client <ip> <folder>\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusInterface factory(QStringLiteral("org.quillon.Pavane"), QStringLiteral("/org/quillon/Pavane"),
                           QStringLiteral("org.quillon.Pavane"), bus);
    factory.setTimeout(30000);
    const QDBusReply<QDBusObjectPath> created = factory.call(QStringLiteral("CreateDownload"));
    if (!created.isValid()) {
        std::fprintf(stdout, "CreateDownload failed: %s\n", qPrintable(created.error().message()));
        return 1;
    }
    QDBusInterface download(QStringLiteral("org.quillon.Pavane"), created.value().path(),
                            QStringLiteral("org.quillon.Pavane.Download"), bus);
    download.setTimeout(120000);
    const QDBusMessage reply = download.call(QStringLiteral("SetSource"), QString::fromLocal8Bit(argv[1]),
                                             QString::fromLocal8Bit(argv[2]));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stdout, "SetSource failed: %s: %s\n", qPrintable(reply.errorName()),
                     qPrintable(reply.errorMessage()));
        return 1;
    }
    std::fprintf(stdout, "SetSource returned\n");
    // Done with the object: the component may end.
    download.call(QStringLiteral("Release"));
    return 0;
}
