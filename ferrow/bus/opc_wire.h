#pragma once

#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/dbus/codecs.h"

namespace ferrow::bus {

// The D-Bus forms of the OPC structures, field by field as they travel.
struct WireItemDef {  // (ssbuayq)
    QString accessPath;
    QString itemId;
    bool active = false;
    uint clientHandle = 0;
    QByteArray blob;
    ushort requestedType = 0;
};
struct WireItemResult {  // (uquay)
    uint serverHandle = 0;
    ushort canonicalType = 0;
    uint accessRights = 0;
    QByteArray blob;
};
struct WireItemState {  // (utq(qv))
    uint clientHandle = 0;
    qulonglong timestamp = 0;
    ushort quality = 0;
    platform::com::dbus::WireVariant value;
};
struct WireServerStatus {  // (tttuuuqqqs)
    qulonglong startTime = 0;
    qulonglong currentTime = 0;
    qulonglong lastUpdateTime = 0;
    uint serverState = 0;
    uint groupCount = 0;
    uint bandWidth = 0;
    ushort majorVersion = 0;
    ushort minorVersion = 0;
    ushort buildNumber = 0;
    QString vendorInfo;
};
struct WireItemAttributes {  // (ssbuuuayqqu(qv))
    QString accessPath;
    QString itemId;
    bool active = false;
    uint clientHandle = 0;
    uint serverHandle = 0;
    uint accessRights = 0;
    QByteArray blob;
    ushort requestedType = 0;
    ushort canonicalType = 0;
    uint euType = 0;
    platform::com::dbus::WireVariant euInfo;
};

QDBusArgument& operator<<(QDBusArgument& a, const WireItemDef& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemDef& v);
QDBusArgument& operator<<(QDBusArgument& a, const WireItemResult& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemResult& v);
QDBusArgument& operator<<(QDBusArgument& a, const WireItemState& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemState& v);
QDBusArgument& operator<<(QDBusArgument& a, const WireServerStatus& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireServerStatus& v);
QDBusArgument& operator<<(QDBusArgument& a, const WireItemAttributes& v);
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemAttributes& v);

void registerOpcWireTypes();

using platform::com::HRESULT;
using platform::com::dbus::Peer;

struct ItemDefCodec {
    using Wire = WireItemDef;
    template <class P>
    using Store = P;
    static HRESULT toWire(const opc::OPCITEMDEF& v, WireItemDef& w, Peer& peer);
    static HRESULT fromWire(const WireItemDef& w, opc::OPCITEMDEF& v, Peer& peer);
    static void clear(opc::OPCITEMDEF& v);
};
struct ItemResultCodec {
    using Wire = WireItemResult;
    template <class P>
    using Store = P;
    static HRESULT toWire(const opc::OPCITEMRESULT& v, WireItemResult& w, Peer& peer);
    static HRESULT fromWire(const WireItemResult& w, opc::OPCITEMRESULT& v, Peer& peer);
    static void clear(opc::OPCITEMRESULT& v);
};
struct ItemStateCodec {
    using Wire = WireItemState;
    template <class P>
    using Store = P;
    static HRESULT toWire(const opc::OPCITEMSTATE& v, WireItemState& w, Peer& peer);
    static HRESULT fromWire(const WireItemState& w, opc::OPCITEMSTATE& v, Peer& peer);
    static void clear(opc::OPCITEMSTATE& v);
};
struct ServerStatusCodec {
    using Wire = WireServerStatus;
    template <class P>
    using Store = P;
    static HRESULT toWire(const opc::OPCSERVERSTATUS& v, WireServerStatus& w, Peer& peer);
    static HRESULT fromWire(const WireServerStatus& w, opc::OPCSERVERSTATUS& v, Peer& peer);
    static void clear(opc::OPCSERVERSTATUS& v);
};
struct ItemAttributesCodec {
    using Wire = WireItemAttributes;
    template <class P>
    using Store = P;
    static HRESULT toWire(const opc::OPCITEMATTRIBUTES& v, WireItemAttributes& w, Peer& peer);
    static HRESULT fromWire(const WireItemAttributes& w, opc::OPCITEMATTRIBUTES& v, Peer& peer);
    static void clear(opc::OPCITEMATTRIBUTES& v);
};

}  // namespace ferrow::bus

Q_DECLARE_METATYPE(ferrow::bus::WireItemDef)
Q_DECLARE_METATYPE(ferrow::bus::WireItemResult)
Q_DECLARE_METATYPE(ferrow::bus::WireItemState)
Q_DECLARE_METATYPE(ferrow::bus::WireServerStatus)
Q_DECLARE_METATYPE(ferrow::bus::WireItemAttributes)
