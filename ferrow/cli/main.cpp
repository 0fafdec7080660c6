// ferrow-opc: the command-line OPC client of Ferrow.
#include <QCoreApplication>
#include <csignal>
#include <iostream>

#include "ferrow/bus/opc_tables.h"
#include "ferrow/cli/run.h"
#include "ferrow/cli/stop_signal.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/com/class_table.h"

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
    const auto connect = [](ferrow::opc::IOPCServer** server) {
        return platform::com::CoCreateInstance(ferrow::opc::CLSID_FerrowServer, nullptr,
                                               platform::com::CLSCTX_LOCAL_SERVER,
                                               ferrow::opc::IID_IOPCServer, reinterpret_cast<void**>(server));
    };
    // The proxies' releases reach Ferrow before QCoreApplication goes (the bus layer waits for them), so
    // Ferrow frees this client's groups at once.
    return ferrow::cli::run(args, connect, std::cout, std::cerr, stop);
}
