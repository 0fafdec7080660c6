#include "devsim/settings_commands.h"

#include <QDateTime>
#include <QHostAddress>
#include <QRegularExpression>
#include <memory>

#include "devsim/shell_service.h"
#include "devsim/simulated_device.h"

namespace devsim {

namespace {
// One network setting: what the device uses now and what its flash holds for the next boot.
struct Address {
    QByteArray current;
    QByteArray flash;
};

// Device-thread state of the settings. The clock is kept as an offset from the PC's clock; like a
// battery-backed clock it survives a reboot.
struct Settings {
    Address ip;
    Address gateway;
    Address subnet;
    qint64 clockOffsetMs = 0;
};

bool isDottedQuad(const QByteArray& text) {
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const auto match = form.match(QString::fromLatin1(text));
    if (!match.hasMatch()) return false;
    for (int i = 1; i <= 4; ++i)
        if (match.captured(i).toInt() > 255) return false;
    return true;
}

void addAddressCommand(ShellService& shell, const QByteArray& word, const char* what,
                       Address Settings::*member, const std::shared_ptr<Settings>& settings) {
    const QByteArray usage = word + " get|set [-p ]<a.b.c.d>";
    shell.addCommand(word.toLower(), usage + "  " + QByteArray(what) + " (-p: kept in flash)",
                     [word, what, member, settings, usage](ShellSession& session, const QByteArray& args) {
                         Address& address = (*settings).*member;
                         if (args == "get") {
                             session.sendMessage(address.current + "\r\n");
                             return;
                         }
                         if (!args.startsWith("set ")) {
                             session.sendMessage("error: usage: " + usage + "\r\n");
                             return;
                         }
                         QByteArray value = args.mid(4).trimmed();
                         const bool persistent = value.startsWith("-p ");
                         if (persistent) value = value.mid(3).trimmed();
                         if (!isDottedQuad(value)) {
                             session.sendMessage("error: '" + value + "' is not an address\r\n");
                             return;
                         }
                         address.current = value;
                         if (persistent) address.flash = value;
                         session.sendMessage("success: " + QByteArray(what) + " set to " + value +
                                             (persistent ? " (kept in flash)" : " (until the next boot)") +
                                             "\r\n");
                     });
}

QDateTime deviceNow(const Settings& settings) {
    return QDateTime::currentDateTime().addMSecs(settings.clockOffsetMs);
}
}  // namespace

void installSettingsCommands(ShellService& shell) {
    auto settings = std::make_shared<Settings>();
    SimulatedDevice& device = shell.device();
    const QByteArray own = device.options().address.toLatin1();
    const QByteArray network = own.left(own.lastIndexOf('.') + 1);
    settings->ip = {own, own};
    settings->gateway = {network + "254", network + "254"};
    settings->subnet = {"255.255.255.0", "255.255.255.0"};
    device.onReboot([settings] {
        for (Address* a : {&settings->ip, &settings->gateway, &settings->subnet}) a->current = a->flash;
    });

    shell.addCommand(
        "clock", "clock get|set <h:m:s> <d.m.yyyy>  the device clock",
        [settings](ShellSession& session, const QByteArray& args) {
            if (args == "get") {
                session.sendMessage(
                    deviceNow(*settings).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")).toLatin1() + "\r\n");
                return;
            }
            static const QRegularExpression form(QStringLiteral(
                "^set +([0-9]{1,2}):([0-9]{1,2}):([0-9]{1,2}) +([0-9]{1,2})\\.([0-9]{1,2})\\.([0-9]{4})$"));
            const auto m = form.match(QString::fromLatin1(args));
            const QDate date =
                m.hasMatch() ? QDate(m.captured(6).toInt(), m.captured(5).toInt(), m.captured(4).toInt())
                             : QDate();
            const QTime time =
                m.hasMatch() ? QTime(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt())
                             : QTime();
            if (!date.isValid() || !time.isValid()) {
                session.sendMessage("error: usage: clock get | clock set <h:m:s> <d.m.yyyy>\r\n");
                return;
            }
            settings->clockOffsetMs = QDateTime::currentDateTime().msecsTo(QDateTime(date, time));
            session.sendMessage(
                "success: clock set to " +
                deviceNow(*settings).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")).toLatin1() + "\r\n");
        });
    addAddressCommand(shell, "ip", "IP address", &Settings::ip, settings);
    addAddressCommand(shell, "Gateway", "gateway address", &Settings::gateway, settings);
    addAddressCommand(shell, "Subnet", "subnet mask", &Settings::subnet, settings);
}

}  // namespace devsim
