#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

namespace ferrow {

// Where and whether Ferrow's OPC UA endpoint listens: the settings group "UA" (Port, Listen, Enabled),
// overridden by the command line (--ua-port N, --ua-listen ADDR, repeatable, and --no-ua).
struct UaOptions {
    static constexpr quint16 kDefaultPort = 4840;

    bool enabled = true;
    quint16 port = kDefaultPort;    // 0: a free one the system chooses
    QList<QHostAddress> addresses;  // empty: the loopback addresses
    QStringList problems;           // values that could not be used, in words; their defaults apply

    // The settings group; missing entries keep their defaults. "Listen" holds addresses separated by
    // blanks or commas; "Enabled" is 0/1, false/true or no/yes.
    static UaOptions stored();
    // Takes the UA options out of `arguments` (both "--ua-port N" and "--ua-port=N"), so that the rest
    // reads as before, and lets them override these. Addresses given here replace the stored ones.
    void takeFromArguments(QStringList& arguments);
};

// What "ferrow --help" prints.
QString ferrowUsage();
// True when the arguments ask for that text (--help).
bool helpRequested(const QStringList& arguments);

}  // namespace ferrow
