#include "ferrow/app/ua_options.h"

#include <QRegularExpression>

#include "platform/settings/settings_store.h"

namespace ferrow {

namespace {

const QString kSettingsTitle = QStringLiteral("Ferrow");
const QString kSection = QStringLiteral("UA");

bool readPort(const QString& text, quint16& port, QStringList& problems) {
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok);
    if (!ok || value > 65535) {
        problems << QStringLiteral("UA port \"%1\" is not a port number (0 to 65535)").arg(text);
        return false;
    }
    port = static_cast<quint16>(value);
    return true;
}

bool readAddress(const QString& text, QList<QHostAddress>& addresses, QStringList& problems) {
    const QString trimmed = text.trimmed();
    QHostAddress address;
    if (trimmed.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(trimmed)) {
        problems << QStringLiteral("UA listen address \"%1\" is not an IP address").arg(text);
        return false;
    }
    addresses << address;
    return true;
}

bool readSwitch(const QString& text, bool& value, QStringList& problems) {
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("1") || word == QLatin1String("true") || word == QLatin1String("yes"))
        value = true;
    else if (word == QLatin1String("0") || word == QLatin1String("false") || word == QLatin1String("no"))
        value = false;
    else {
        problems << QStringLiteral("UA Enabled \"%1\" is neither 1 nor 0").arg(text);
        return false;
    }
    return true;
}

}  // namespace

UaOptions UaOptions::stored() {
    UaOptions options;
    const QString port = platform::GetSetting(kSettingsTitle, kSection, QStringLiteral("Port"));
    if (!port.isEmpty()) readPort(port, options.port, options.problems);
    const QString listen = platform::GetSetting(kSettingsTitle, kSection, QStringLiteral("Listen"));
    for (const QString& address :
         listen.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts))
        readAddress(address, options.addresses, options.problems);
    const QString enabled = platform::GetSetting(kSettingsTitle, kSection, QStringLiteral("Enabled"));
    if (!enabled.isEmpty()) readSwitch(enabled, options.enabled, options.problems);
    return options;
}

void UaOptions::takeFromArguments(QStringList& arguments) {
    QList<QHostAddress> listen;
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--no-ua")) {
            enabled = false;
            continue;
        }
        QString name = argument;
        QString value;
        bool hasValue = false;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('='));
            argument.startsWith(QLatin1String("--")) && equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
            hasValue = true;
        }
        if (name != QLatin1String("--ua-port") && name != QLatin1String("--ua-listen")) {
            rest << argument;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                problems << QStringLiteral("%1 needs a value").arg(name);
                continue;
            }
            value = arguments[++i];
        }
        if (name == QLatin1String("--ua-port"))
            readPort(value, port, problems);
        else
            readAddress(value, listen, problems);
    }
    if (!listen.isEmpty()) addresses = listen;
    arguments = rest;
}

QString ferrowUsage() {
    return QStringLiteral(
        "Usage: ferrow [options] [configuration.tdb]\n"
        "\n"
        "Ferrow serves the devices' datapoints to OPC clients: OPC DA over the bus, and OPC UA on\n"
        "opc.tcp://localhost:4840/ (the loopback addresses only; clients elsewhere are not served yet).\n"
        "\n"
        "Options:\n"
        "  --ua-port N        the OPC UA endpoint's port (default 4840; settings: [UA] Port)\n"
        "  --ua-listen ADDR   an address to listen on, repeatable (default 127.0.0.1 and ::1;\n"
        "                     settings: [UA] Listen); addresses other than loopback are left out\n"
        "  --no-ua            no OPC UA endpoint (settings: [UA] Enabled=0)\n"
        "  --ua-pki           print the folder of the OPC UA certificates (own/, trusted/, issuers/,\n"
        "                     rejected/) and end; move a client's certificate from rejected/certs to\n"
        "                     trusted/certs to trust it\n"
        "  --ua-trust FILE    trust the OPC UA client certificate in FILE (DER or PEM) and end\n"
        "  --ua-user-add NAME add an OPC UA user, or give it a new password, and end; the password is\n"
        "                     asked for, or read as one line from standard input when that is no terminal\n"
        "  --ua-user-remove NAME  remove an OPC UA user and end\n"
        "  -RegServer         register the OPC DA server and end\n"
        "  -UnregServer       remove the registration and end\n"
        "  -Embedding         started for an OPC client: the window starts minimized\n"
        "  --help             this text\n"
        "\n"
        "The command line wins over the settings. Ferrow says on standard error where it listens.\n");
}

bool helpRequested(const QStringList& arguments) { return arguments.contains(QLatin1String("--help")); }

}  // namespace ferrow
