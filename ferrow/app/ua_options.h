#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace ferrow {

// Where and whether Ferrow's OPC UA endpoint listens, and what it lets whom do: the settings group "UA"
// (Port, Listen, Enabled, Policies, AllowNone, AnonymousWrite), the first three overridden by the
// command line (--ua-port N, --ua-listen ADDR, repeatable, and --no-ua).
struct UaOptions {
    static constexpr quint16 kDefaultPort = 4840;

    bool enabled = true;
    quint16 port = kDefaultPort;    // 0: a free one the system chooses
    QList<QHostAddress> addresses;  // empty: the loopback addresses
    // The secure policies offered, each with Sign and SignAndEncrypt ("Policies", names separated by
    // blanks or commas; "none" offers none).
    QStringList policies{QStringLiteral("Basic256Sha256"), QStringLiteral("Aes128_Sha256_RsaOaep")};
    // Unset: on while the endpoint listens on loopback alone, off beyond it.
    std::optional<bool> allowNone, anonymousWrite;
    QStringList problems;  // values that could not be used, in words; their defaults apply

    // The settings group; missing entries keep their defaults. "Listen" holds addresses separated by
    // blanks or commas; "Enabled" is 0/1, false/true or no/yes.
    static UaOptions stored();
    // Takes the UA options out of `arguments` (both "--ua-port N" and "--ua-port=N"), so that the rest
    // reads as before, and lets them override these. Addresses given here replace the stored ones.
    void takeFromArguments(QStringList& arguments);

    // Whether the endpoint serves an address other than loopback (only with a secure policy on).
    bool listensBeyondLoopback() const;
    // The addresses served: beyond loopback only with a secure policy on (`notice` says when some were
    // left out); the loopback addresses when none is given.
    QList<QHostAddress> servedAddresses(QString* notice) const;
    // Whether security policy None is offered, and anonymous sessions may write.
    bool noneOffered() const { return policies.isEmpty() || allowNone.value_or(!listensBeyondLoopback()); }
    bool anonymousWriteAllowed() const { return anonymousWrite.value_or(!listensBeyondLoopback()); }
};

// What "ferrow --help" prints.
QString ferrowUsage();
// True when the arguments ask for that text (--help).
bool helpRequested(const QStringList& arguments);

}  // namespace ferrow
