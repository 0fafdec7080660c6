#include "platform/com/dbus/wire.h"

#include <QDBusMetaType>
#include <mutex>

namespace platform::com::dbus {

QDBusArgument& operator<<(QDBusArgument& a, const WireVariant& v) {
    a.beginStructure();
    a << v.vt << v.value;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireVariant& v) {
    a.beginStructure();
    a >> v.vt >> v.value;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const WireFormatEtc& v) {
    a.beginStructure();
    a << v.format << v.aspect << v.index << v.tymed;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireFormatEtc& v) {
    a.beginStructure();
    a >> v.format >> v.aspect >> v.index >> v.tymed;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const WireMedium& v) {
    a.beginStructure();
    a << v.tymed << v.bytes;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireMedium& v) {
    a.beginStructure();
    a >> v.tymed >> v.bytes;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const WireConnectData& v) {
    a.beginStructure();
    a << v.sink << v.cookie;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireConnectData& v) {
    a.beginStructure();
    a >> v.sink >> v.cookie;
    a.endStructure();
    return a;
}

void registerWireTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<WireVariant>();
        qDBusRegisterMetaType<QList<WireVariant>>();
        qDBusRegisterMetaType<WireFormatEtc>();
        qDBusRegisterMetaType<WireMedium>();
        qDBusRegisterMetaType<WireConnectData>();
        qDBusRegisterMetaType<QList<WireConnectData>>();
        qDBusRegisterMetaType<QList<bool>>();
        qDBusRegisterMetaType<QList<short>>();
        qDBusRegisterMetaType<QList<ushort>>();
        qDBusRegisterMetaType<QList<int>>();
        qDBusRegisterMetaType<QList<uint>>();
        qDBusRegisterMetaType<QList<qlonglong>>();
        qDBusRegisterMetaType<QList<qulonglong>>();
        qDBusRegisterMetaType<QList<double>>();
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
    });
}

QString signatureOf(QMetaType type) {
    registerWireTypes();
    return QString::fromLatin1(QDBusMetaType::typeToSignature(type));
}

}  // namespace platform::com::dbus
