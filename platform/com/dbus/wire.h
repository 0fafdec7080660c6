#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>

namespace platform::com::dbus {

// The D-Bus forms of the platform's structures, as they travel: (qv), (suiu), (uay), (ou).
struct WireVariant {
    ushort vt = 0;
    QDBusVariant value;
};
struct WireFormatEtc {
    QString format;
    uint aspect = 0;
    int index = 0;
    uint tymed = 0;
};
struct WireMedium {
    uint tymed = 0;
    QByteArray bytes;
};
struct WireConnectData {
    QDBusObjectPath sink;
    uint cookie = 0;
};

QDBusArgument& operator<<(QDBusArgument& a, const WireVariant& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireVariant& v);
QDBusArgument& operator<<(QDBusArgument& a, const WireFormatEtc& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireFormatEtc& v);
QDBusArgument& operator<<(QDBusArgument& a, const WireMedium& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireMedium& v);
QDBusArgument& operator<<(QDBusArgument& a, const WireConnectData& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireConnectData& v);

// Registers the types above and the lists of basic types with Qt's D-Bus type system; idempotent and
// thread-safe. Every entry point of this layer calls it.
void registerWireTypes();

// The D-Bus signature of a registered wire type.
QString signatureOf(QMetaType type);
template <class W>
QString signatureOf() {
    return signatureOf(QMetaType::fromType<W>());
}

}  // namespace platform::com::dbus

Q_DECLARE_METATYPE(platform::com::dbus::WireVariant)
Q_DECLARE_METATYPE(platform::com::dbus::WireFormatEtc)
Q_DECLARE_METATYPE(platform::com::dbus::WireMedium)
Q_DECLARE_METATYPE(platform::com::dbus::WireConnectData)
