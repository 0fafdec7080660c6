#include "ferrow/bus/opc_wire.h"

#include <QDBusMetaType>
#include <cstring>
#include <mutex>

namespace ferrow::bus {

using namespace platform::com;
using opc::BYTE;
using platform::com::dbus::S;
using platform::com::dbus::VariantCodec;

QDBusArgument& operator<<(QDBusArgument& a, const WireItemDef& v) {
    a.beginStructure();
    a << v.accessPath << v.itemId << v.active << v.clientHandle << v.blob << v.requestedType;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemDef& v) {
    a.beginStructure();
    a >> v.accessPath >> v.itemId >> v.active >> v.clientHandle >> v.blob >> v.requestedType;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const WireItemResult& v) {
    a.beginStructure();
    a << v.serverHandle << v.canonicalType << v.accessRights << v.blob;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemResult& v) {
    a.beginStructure();
    a >> v.serverHandle >> v.canonicalType >> v.accessRights >> v.blob;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const WireItemState& v) {
    a.beginStructure();
    a << v.clientHandle << v.timestamp << v.quality << v.value;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemState& v) {
    a.beginStructure();
    a >> v.clientHandle >> v.timestamp >> v.quality >> v.value;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const WireServerStatus& v) {
    a.beginStructure();
    a << v.startTime << v.currentTime << v.lastUpdateTime << v.serverState << v.groupCount << v.bandWidth
      << v.majorVersion << v.minorVersion << v.buildNumber << v.vendorInfo;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireServerStatus& v) {
    a.beginStructure();
    a >> v.startTime >> v.currentTime >> v.lastUpdateTime >> v.serverState >> v.groupCount >> v.bandWidth >>
        v.majorVersion >> v.minorVersion >> v.buildNumber >> v.vendorInfo;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const WireItemAttributes& v) {
    a.beginStructure();
    a << v.accessPath << v.itemId << v.active << v.clientHandle << v.serverHandle << v.accessRights << v.blob
      << v.requestedType << v.canonicalType << v.euType << v.euInfo;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, WireItemAttributes& v) {
    a.beginStructure();
    a >> v.accessPath >> v.itemId >> v.active >> v.clientHandle >> v.serverHandle >> v.accessRights >>
        v.blob >> v.requestedType >> v.canonicalType >> v.euType >> v.euInfo;
    a.endStructure();
    return a;
}

void registerOpcWireTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::com::dbus::registerWireTypes();
        qDBusRegisterMetaType<WireItemDef>();
        qDBusRegisterMetaType<QList<WireItemDef>>();
        qDBusRegisterMetaType<WireItemResult>();
        qDBusRegisterMetaType<QList<WireItemResult>>();
        qDBusRegisterMetaType<WireItemState>();
        qDBusRegisterMetaType<QList<WireItemState>>();
        qDBusRegisterMetaType<WireServerStatus>();
        qDBusRegisterMetaType<WireItemAttributes>();
        qDBusRegisterMetaType<QList<WireItemAttributes>>();
    });
}

namespace {
QByteArray blobBytes(DWORD size, const BYTE* blob) {
    return size && blob ? QByteArray(reinterpret_cast<const char*>(blob), static_cast<qsizetype>(size))
                        : QByteArray();
}
// A task-allocated copy (null for none).
HRESULT blobCopy(const QByteArray& bytes, DWORD* size, BYTE** blob) {
    *size = 0;
    *blob = nullptr;
    if (bytes.isEmpty()) return S_OK;
    *blob = static_cast<BYTE*>(CoTaskMemAlloc(static_cast<std::size_t>(bytes.size())));
    if (!*blob) return E_OUTOFMEMORY;
    std::memcpy(*blob, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    *size = static_cast<DWORD>(bytes.size());
    return S_OK;
}
QString text(const OLECHAR* s) { return s ? QString::fromUtf16(s) : QString(); }
}  // namespace

HRESULT ItemDefCodec::toWire(const opc::OPCITEMDEF& v, WireItemDef& w, Peer&) {
    w = {text(v.szAccessPath), text(v.szItemID), v.bActive != 0, v.hClient, blobBytes(v.dwBlobSize, v.pBlob),
         v.vtRequestedDataType};
    return S_OK;
}
HRESULT ItemDefCodec::fromWire(const WireItemDef& w, opc::OPCITEMDEF& v, Peer& peer) {
    v = opc::OPCITEMDEF{};
    v.bActive = w.active ? 1 : 0;
    v.hClient = w.clientHandle;
    v.vtRequestedDataType = w.requestedType;
    if (const HRESULT r = S::fromWire(w.accessPath, v.szAccessPath, peer); FAILED(r)) return r;
    if (const HRESULT r = S::fromWire(w.itemId, v.szItemID, peer); FAILED(r)) return r;
    return blobCopy(w.blob, &v.dwBlobSize, &v.pBlob);
}
void ItemDefCodec::clear(opc::OPCITEMDEF& v) {
    S::clear(v.szAccessPath);
    S::clear(v.szItemID);
    CoTaskMemFree(v.pBlob);
    v.pBlob = nullptr;
}

HRESULT ItemResultCodec::toWire(const opc::OPCITEMRESULT& v, WireItemResult& w, Peer&) {
    w = {v.hServer, v.vtCanonicalDataType, v.dwAccessRights, blobBytes(v.dwBlobSize, v.pBlob)};
    return S_OK;
}
HRESULT ItemResultCodec::fromWire(const WireItemResult& w, opc::OPCITEMRESULT& v, Peer&) {
    v = opc::OPCITEMRESULT{};
    v.hServer = w.serverHandle;
    v.vtCanonicalDataType = w.canonicalType;
    v.dwAccessRights = w.accessRights;
    return blobCopy(w.blob, &v.dwBlobSize, &v.pBlob);
}
void ItemResultCodec::clear(opc::OPCITEMRESULT& v) {
    CoTaskMemFree(v.pBlob);
    v.pBlob = nullptr;
}

HRESULT ItemStateCodec::toWire(const opc::OPCITEMSTATE& v, WireItemState& w, Peer& peer) {
    w.clientHandle = v.hClient;
    w.timestamp = v.ftTimeStamp.ticks();
    w.quality = v.wQuality;
    return VariantCodec::toWire(v.vDataValue, w.value, peer);
}
HRESULT ItemStateCodec::fromWire(const WireItemState& w, opc::OPCITEMSTATE& v, Peer& peer) {
    v = opc::OPCITEMSTATE{};
    v.hClient = w.clientHandle;
    v.ftTimeStamp = FILETIME::fromTicks(w.timestamp);
    v.wQuality = w.quality;
    return VariantCodec::fromWire(w.value, v.vDataValue, peer);
}
void ItemStateCodec::clear(opc::OPCITEMSTATE& v) { VariantClear(&v.vDataValue); }

HRESULT ServerStatusCodec::toWire(const opc::OPCSERVERSTATUS& v, WireServerStatus& w, Peer&) {
    w = {v.ftStartTime.ticks(),
         v.ftCurrentTime.ticks(),
         v.ftLastUpdateTime.ticks(),
         static_cast<uint>(v.dwServerState),
         v.dwGroupCount,
         v.dwBandWidth,
         v.wMajorVersion,
         v.wMinorVersion,
         v.wBuildNumber,
         text(v.szVendorInfo)};
    return S_OK;
}
HRESULT ServerStatusCodec::fromWire(const WireServerStatus& w, opc::OPCSERVERSTATUS& v, Peer& peer) {
    v = opc::OPCSERVERSTATUS{};
    v.ftStartTime = FILETIME::fromTicks(w.startTime);
    v.ftCurrentTime = FILETIME::fromTicks(w.currentTime);
    v.ftLastUpdateTime = FILETIME::fromTicks(w.lastUpdateTime);
    v.dwServerState = static_cast<opc::OPCSERVERSTATE>(w.serverState);
    v.dwGroupCount = w.groupCount;
    v.dwBandWidth = w.bandWidth;
    v.wMajorVersion = w.majorVersion;
    v.wMinorVersion = w.minorVersion;
    v.wBuildNumber = w.buildNumber;
    return S::fromWire(w.vendorInfo, v.szVendorInfo, peer);
}
void ServerStatusCodec::clear(opc::OPCSERVERSTATUS& v) { S::clear(v.szVendorInfo); }

HRESULT ItemAttributesCodec::toWire(const opc::OPCITEMATTRIBUTES& v, WireItemAttributes& w, Peer& peer) {
    w.accessPath = text(v.szAccessPath);
    w.itemId = text(v.szItemID);
    w.active = v.bActive != 0;
    w.clientHandle = v.hClient;
    w.serverHandle = v.hServer;
    w.accessRights = v.dwAccessRights;
    w.blob = blobBytes(v.dwBlobSize, v.pBlob);
    w.requestedType = v.vtRequestedDataType;
    w.canonicalType = v.vtCanonicalDataType;
    w.euType = static_cast<uint>(v.dwEUType);
    return VariantCodec::toWire(v.vEUInfo, w.euInfo, peer);
}
HRESULT ItemAttributesCodec::fromWire(const WireItemAttributes& w, opc::OPCITEMATTRIBUTES& v, Peer& peer) {
    v = opc::OPCITEMATTRIBUTES{};
    v.bActive = w.active ? 1 : 0;
    v.hClient = w.clientHandle;
    v.hServer = w.serverHandle;
    v.dwAccessRights = w.accessRights;
    v.vtRequestedDataType = w.requestedType;
    v.vtCanonicalDataType = w.canonicalType;
    v.dwEUType = static_cast<opc::OPCEUTYPE>(w.euType);
    if (const HRESULT r = S::fromWire(w.accessPath, v.szAccessPath, peer); FAILED(r)) return r;
    if (const HRESULT r = S::fromWire(w.itemId, v.szItemID, peer); FAILED(r)) return r;
    if (const HRESULT r = blobCopy(w.blob, &v.dwBlobSize, &v.pBlob); FAILED(r)) return r;
    return VariantCodec::fromWire(w.euInfo, v.vEUInfo, peer);
}
void ItemAttributesCodec::clear(opc::OPCITEMATTRIBUTES& v) {
    S::clear(v.szAccessPath);
    S::clear(v.szItemID);
    CoTaskMemFree(v.pBlob);
    v.pBlob = nullptr;
    VariantClear(&v.vEUInfo);
}

}  // namespace ferrow::bus
