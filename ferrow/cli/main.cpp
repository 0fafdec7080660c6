// ferrow-opc: the command-line OPC client of Ferrow.
#include <QCoreApplication>
#include <QDBusMessage>
#include <csignal>
#include <iostream>

#include "ferrow/bus/opc_tables.h"
#include "ferrow/cli/run.h"
#include "ferrow/cli/stop_signal.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/com/class_table.h"
#include "platform/com/dbus/local_server.h"

namespace {

// The proxies' releases leave without waiting for an answer. One call on the same connection that does
// wait comes back only after they have gone out, so Ferrow frees this client's groups now rather than
// when it notices, a while later, that the client left the bus.
void flushReleases() {
    const std::shared_ptr<platform::com::dbus::BusNode> node = platform::com::dbus::clientNode();
    if (!node) return;
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    node->connection().call(ping, QDBus::Block, 5000);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // CoCreateInstance of Ferrow's class then reaches Ferrow on the session bus, started there if need be.
    ferrow::bus::enableFerrowActivation();
    const std::vector<std::string> args(argv + 1, argv + argc);
    ferrow::cli::StopSignal stop;
    stop.receiveTerminationSignals();
    // A closed pipe on stdout ("| head") fails the writes instead of killing the process, so that a watch
    // still releases what it made on the server.
    std::signal(SIGPIPE, SIG_IGN);
    bool connected = false;
    const auto connect = [&](ferrow::opc::IOPCServer** server) {
        connected = true;
        return platform::com::CoCreateInstance(ferrow::opc::CLSID_FerrowServer, nullptr,
                                               platform::com::CLSCTX_LOCAL_SERVER,
                                               ferrow::opc::IID_IOPCServer, reinterpret_cast<void**>(server));
    };
    const int status = ferrow::cli::run(args, connect, std::cout, std::cerr, stop);
    if (connected) flushReleases();
    return status;
}
