#include "ferrow/app/ua_options.h"

#include <QRegularExpression>
#include <algorithm>

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

bool readSwitch(const QString& key, const QString& text, bool& value, QStringList& problems) {
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("1") || word == QLatin1String("true") || word == QLatin1String("yes"))
        value = true;
    else if (word == QLatin1String("0") || word == QLatin1String("false") || word == QLatin1String("no"))
        value = false;
    else {
        problems << QStringLiteral("UA %1 \"%2\" is neither 1 nor 0").arg(key, text);
        return false;
    }
    return true;
}

const QStringList kSecurePolicies{QStringLiteral("Basic256Sha256"), QStringLiteral("Aes128_Sha256_RsaOaep")};

QStringList readPolicies(const QString& text, QStringList& problems) {
    QStringList policies;
    for (const QString& word :
         text.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
        if (word.compare(QStringLiteral("none"), Qt::CaseInsensitive) == 0) continue;
        const auto known =
            std::find_if(kSecurePolicies.begin(), kSecurePolicies.end(),
                         [&](const QString& name) { return name.compare(word, Qt::CaseInsensitive) == 0; });
        if (known == kSecurePolicies.end())
            problems
                << QStringLiteral("UA policy \"%1\" is not one of %2").arg(word, kSecurePolicies.join(", "));
        else if (!policies.contains(*known))
            policies << *known;
    }
    return policies;
}

void readOptionalSwitch(const QString& key, std::optional<bool>& value, QStringList& problems) {
    const QString text = platform::GetSetting(kSettingsTitle, kSection, key);
    bool on = false;
    if (!text.isEmpty() && readSwitch(key, text, on, problems)) value = on;
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
    if (!enabled.isEmpty()) readSwitch(QStringLiteral("Enabled"), enabled, options.enabled, options.problems);
    const QString policies = platform::GetSetting(kSettingsTitle, kSection, QStringLiteral("Policies"));
    if (!policies.isEmpty()) options.policies = readPolicies(policies, options.problems);
    readOptionalSwitch(QStringLiteral("AllowNone"), options.allowNone, options.problems);
    readOptionalSwitch(QStringLiteral("AnonymousWrite"), options.anonymousWrite, options.problems);
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

bool UaOptions::listensBeyondLoopback() const {
    return !policies.isEmpty() &&
           std::any_of(addresses.begin(), addresses.end(),
                       [](const QHostAddress& address) { return !address.isLoopback(); });
}

QList<QHostAddress> UaOptions::servedAddresses(QString* notice) const {
    QList<QHostAddress> served;
    QStringList dropped;
    for (const QHostAddress& address : addresses) {
        if (address.isLoopback() || !policies.isEmpty())
            served << address;
        else
            dropped << address.toString();
    }
    if (!dropped.isEmpty() && notice)
        *notice = QStringLiteral(
                      "OPC UA endpoint: not listening on %1, since no secure policy is on ([UA] Policies)")
                      .arg(dropped.join(QStringLiteral(", ")));
    if (served.isEmpty())
        served = {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    return served;
}

QString ferrowUsage() {
    return QStringLiteral(
        "Usage: ferrow [options] [configuration.tdb]\n"
        "\n"
        "Ferrow serves the devices' datapoints to OPC clients: OPC DA over the bus, and OPC UA on\n"
        "opc.tcp://localhost:4840/ (the loopback addresses unless [UA] Listen names others; beyond\n"
        "loopback only signed and encrypted channels, Basic256Sha256 and Aes128_Sha256_RsaOaep).\n"
        "\n"
        "Options:\n"
        "  --ua-port N        the OPC UA endpoint's port (default 4840; settings: [UA] Port)\n"
        "  --ua-listen ADDR   an address to listen on, repeatable (default 127.0.0.1 and ::1;\n"
        "                     settings: [UA] Listen); others only with a secure policy on\n"
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
        "Settings only: [UA] Policies (secure policies offered; \"none\" for none), AllowNone and\n"
        "AnonymousWrite (0/1; both on while listening on loopback alone, off beyond it).\n"
        "The command line wins over the settings. Ferrow says on standard error where it listens and\n"
        "what it offers there.\n");
}

bool helpRequested(const QStringList& arguments) { return arguments.contains(QLatin1String("--help")); }

}  // namespace ferrow
