#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ferrow/opc/opc_interfaces.h"

namespace ferrow::cli {

class StopSignal;

// Makes the connection to the server: one reference on its IOPCServer in *server, or the failure.
using ServerConnector = std::function<platform::com::HRESULT(ferrow::opc::IOPCServer** server)>;

// The whole program after start-up: reads the command line (argv without the program name), prints help
// and usage errors without connecting, otherwise connects, runs the command and releases everything it
// made on the server. Returns the exit status (see ExitStatus).
int run(const std::vector<std::string>& args, const ServerConnector& connect, std::ostream& out,
        std::ostream& err, const StopSignal& stop);

}  // namespace ferrow::cli
