// frmMain: reading and changing the device's clock and network settings.
#include <chrono>

#include "platform/net/tcp_client.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "vantor/common/app_info.h"
#include "vantor/settings/f_clock.h"
#include "vantor/settings/f_gateway_addr.h"
#include "vantor/settings/f_ip_addr.h"
#include "vantor/settings/f_subnet.h"
#include "vantor/shell/frm_main.h"

namespace vantor {

namespace {
// How long a get command may take to be answered.
constexpr std::chrono::milliseconds kReplyTimeout{10000};

void warn(const QString& text) {
    platform::ui::msgBox(text, platform::ui::mb::OkOnly | platform::ui::mb::Exclamation, appTitle());
}
}  // namespace

bool frmMain::askDevice(const QByteArray& getCommand, QByteArray& value) {
    using platform::net::TcpClient;
    messages_.startReplies();
    if (!sckShell_->SendData(getCommand + "\r\n")) {
        messages_.stopReplies();
        warn(QStringLiteral("Not connected: \"%1\" could not be sent.").arg(QString::fromLatin1(getCommand)));
        return false;
    }
    // A whole line, or a message that ends without one, is the answer; a partial line waits for the rest,
    // unless it grows past any answer's length.
    const auto answered = [this] { return messages_.replyComplete(); };
    platform::ui::waitUntil([&] { return answered() || sckShell_->state() != TcpClient::Connected; },
                            platform::scaled(kReplyTimeout));
    if (messages_.replyTooLong()) {
        messages_.stopReplies();
        warn(QStringLiteral("The device's answer to \"%1\" is not a line of text.\r\nNothing was changed.")
                 .arg(QString::fromLatin1(getCommand)));
        return false;
    }
    const bool gotAnswer = answered();
    QByteArray line = gotAnswer ? GetReplyLine() : QByteArray();
    messages_.stopReplies();
    if (!gotAnswer) {
        const QString command = QString::fromLatin1(getCommand);
        if (sckShell_->state() != TcpClient::Connected)
            warn(QStringLiteral(
                     "The connection was closed before the device answered \"%1\".\r\nNothing was changed.")
                     .arg(command));
        else
            warn(QStringLiteral("The device did not answer \"%1\" within %2 seconds.\r\nNothing was changed.")
                     .arg(command)
                     .arg(kReplyTimeout.count() / 1000));
        return false;
    }
    if (line.endsWith("\r\n")) {
        line.chop(2);
    } else {
        const qsizetype nul = line.indexOf('\0');
        if (nul >= 0) line.truncate(nul);
    }
    value = line;
    return true;
}

void frmMain::changeSetting(const QByteArray& getCommand, const QByteArray& setCommand,
                            const std::function<QString(const QString&)>& editValue) {
    // A second menu click while the first waits for its answer would take that answer away from it.
    if (exchangeRunning_) return;
    exchangeRunning_ = true;
    QByteArray current;
    if (askDevice(getCommand, current)) {
        const QString result = editValue(QString::fromLatin1(current));
        if (!result.isEmpty() && !sckShell_->SendData(setCommand + result.toLatin1() + "\r\n"))
            warn(QStringLiteral("Not connected: \"%1\" was not sent.")
                     .arg(QString::fromLatin1(setCommand) + result));
    }
    exchangeRunning_ = false;
}

void frmMain::mnuClock_Click() {
    if (!clockDialog_) clockDialog_ = std::make_unique<FClock>(this);
    changeSetting("clock get", "clock set ", [this](const QString& v) { return clockDialog_->SetClock(v); });
}

void frmMain::mnuIPAddr_Click() {
    if (!ipDialog_) ipDialog_ = std::make_unique<FIPAddr>(this);
    changeSetting("ip get", "ip set ", [this](const QString& v) { return ipDialog_->setip(v); });
}

void frmMain::mnuGateway_Click() {
    if (!gatewayDialog_) gatewayDialog_ = std::make_unique<FGatewayAddr>(this);
    changeSetting("Gateway get", "Gateway set ",
                  [this](const QString& v) { return gatewayDialog_->setGateway(v); });
}

void frmMain::mnuSubnet_Click() {
    if (!subnetDialog_) subnetDialog_ = std::make_unique<FSubnet>(this);
    changeSetting("Subnet get", "Subnet set ",
                  [this](const QString& v) { return subnetDialog_->setSubnet(v); });
}

}  // namespace vantor
