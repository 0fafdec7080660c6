#include "devsim/basic_commands.h"

#include <QTimer>

#include "devsim/shell_service.h"
#include "devsim/simulated_device.h"

namespace devsim {

namespace {
constexpr std::size_t kLogLines = 40;
}

void installBasicCommands(ShellService& shell) {
    shell.addCommand(
        "help", "help              this list",
        [&shell](ShellSession& session, const QByteArray&) { session.sendMessage(shell.helpText()); });
    shell.addCommand("ver", "ver               device and shell version",
                     [&shell](ShellSession& session, const QByteArray&) {
                         session.sendMessage(QByteArray::fromStdString(shell.device().options().name) +
                                             " shell 1.0 (simulated)\r\n");
                     });
    shell.addCommand(
        "echo", "echo <text>       answers the text",
        [](ShellSession& session, const QByteArray& text) { session.sendMessage(text + "\r\n"); });
    shell.addCommand("log", "log               the device log (newest lines)",
                     [&shell](ShellSession& session, const QByteArray&) {
                         // The log quotes what clients sent; it goes out as text, one message.
                         session.sendMessage("Device log:\r\n" +
                                             QByteArray::fromStdString(shell.device().log().tail(kLogLines)));
                     });
    shell.addCommand(
        "boot", "boot -w|-c|-f     warm, cold or flash boot",
        [&shell](ShellSession& session, const QByteArray& args) {
            std::string kind;
            if (args == "-w")
                kind = "warm";
            else if (args == "-c")
                kind = "cold";
            else if (args == "-f")
                kind = "flash";
            if (kind.empty()) {
                session.sendMessage("error: boot needs -w, -c or -f\r\n");
                return;
            }
            session.sendMessage(QByteArray::fromStdString("notify: " + kind + " boot in progress\r\n"));
            SimulatedDevice& device = shell.device();
            // Let the answer leave before the connections go down.
            QTimer::singleShot(50, &shell, [&device, kind] { device.reboot(kind); });
        });
}

}  // namespace devsim
