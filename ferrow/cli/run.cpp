#include "ferrow/cli/run.h"

#include "ferrow/cli/commands.h"
#include "ferrow/cli/stop_signal.h"

namespace ferrow::cli {

using namespace platform::com;
using namespace ferrow::opc;

int run(const std::vector<std::string>& args, const ServerConnector& connect, std::ostream& out,
        std::ostream& err, const StopSignal& stop) {
    const ParsedArguments parsed = parseArguments(args);
    const Arguments& arguments = parsed.arguments;
    if (!parsed.error.empty()) {
        err << "ferrow-opc: " << parsed.error << '\n'
            << "Try 'ferrow-opc "
            << (arguments.command == Command::None ? "" : commandName(arguments.command))
            << (arguments.command == Command::None ? "" : " ") << "--help'.\n";
        return kExitUsage;
    }
    if (arguments.help) {
        out << helpText(arguments.command);
        return kExitOk;
    }

    Console console{out, err, arguments.json};
    ComPtr<IOPCServer> server;
    const HRESULT connected = connect(server.put());
    if (FAILED(connected) || !server) {
        const HRESULT code = FAILED(connected) ? connected : E_POINTER;
        // Whatever the reason, there is no server to ask for the text.
        Session unconnected(nullptr, console);
        if (isServerUnavailable(code)) return unconnected.fail("", code);
        return unconnected.fail("cannot connect to Ferrow", code);
    }
    // Only for the server's own diagnostics; a server that does not take it is still usable.
    Session session(server.get(), console);
    ComPtr<IOPCCommon> common;
    if (SUCCEEDED(server->QueryInterface(IID_IOPCCommon, common.putVoid())))
        common->SetClientName(u"ferrow-opc");

    int status = kExitOk;
    switch (arguments.command) {
        case Command::Status:
            status = runStatus(session, arguments);
            break;
        case Command::Browse:
            status = runBrowse(session, arguments);
            break;
        case Command::Read:
            status = runRead(session, arguments);
            break;
        case Command::Write:
            status = runWrite(session, arguments);
            break;
        case Command::Properties:
            status = runProperties(session, arguments);
            break;
        case Command::Watch:
            status = runWatch(session, arguments, stop);
            break;
        case Command::None:
            break;
    }
    out.flush();
    return status;
}

}  // namespace ferrow::cli
