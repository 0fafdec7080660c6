#pragma once

#include "platform/com/data_transfer.h"
#include "platform/com/dbus/marshal.h"
#include "platform/com/interfaces.h"

namespace platform::com::dbus {

// An [out] interface of a kind this layer does not carry (format and advise enumerators): always null.
struct OutNull : RoleBase {
    static void outSig(QString& s) { s += QLatin1Char('o'); }
    template <class P>
    struct Stub : StubBase {
        void* value = nullptr;
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() {
            if (value) static_cast<IUnknown*>(value)->Release();
        }
        P arg(CallState&) { return reinterpret_cast<P>(&value); }
        bool encode(QVariantList& out, CallState&, HRESULT) {
            putWire(out, QDBusObjectPath(QStringLiteral("/")));
            return true;
        }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P, QVariantList&, CallState&) { return true; }
        bool decode(const QVariantList&, int& pos, CallState&) {
            ++pos;
            return true;
        }
        void commit(P p, CallState&, bool) {
            if (p) *p = nullptr;
        }
    };
};

// The signature tables of the platform's interfaces.
namespace tables {
using ClassFactory_CreateInstance =
    Method<"CreateInstance", &IClassFactory::CreateInstance, Outer, Iid, OutItfIid>;
using ClassFactory_LockServer = Method<"LockServer", &IClassFactory::LockServer, In<B>>;

using EnumString_Next = Method<"Next", &IEnumString::Next, Capacity, Buf<S>, OutCount>;
using EnumString_Skip = Method<"Skip", &IEnumString::Skip, In<U>>;
using EnumString_Reset = Method<"Reset", &IEnumString::Reset>;
using EnumString_Clone = Method<"Clone", &IEnumString::Clone, Out<ObjectCodec<IEnumString>>>;

using CPC_EnumConnectionPoints =
    Method<"EnumConnectionPoints", &IConnectionPointContainer::EnumConnectionPoints,
           Out<ObjectCodec<IEnumConnectionPoints>>>;
using CPC_FindConnectionPoint = Method<"FindConnectionPoint", &IConnectionPointContainer::FindConnectionPoint,
                                       Iid, Out<ObjectCodec<IConnectionPoint>>>;

using CP_GetConnectionInterface =
    Method<"GetConnectionInterface", &IConnectionPoint::GetConnectionInterface, Out<GuidCodec>>;
using CP_GetConnectionPointContainer =
    Method<"GetConnectionPointContainer", &IConnectionPoint::GetConnectionPointContainer,
           Out<ObjectCodec<IConnectionPointContainer>>>;
using CP_Advise = Method<"Advise", &IConnectionPoint::Advise, In<ObjectCodec<IUnknown>>, Out<U>>;
using CP_Unadvise = Method<"Unadvise", &IConnectionPoint::Unadvise, In<U>>;
using CP_EnumConnections =
    Method<"EnumConnections", &IConnectionPoint::EnumConnections, Out<ObjectCodec<IEnumConnections>>>;

using EnumConnections_Next =
    Method<"Next", &IEnumConnections::Next, Capacity, Buf<ConnectDataCodec>, OutCount>;
using EnumConnections_Skip = Method<"Skip", &IEnumConnections::Skip, In<U>>;
using EnumConnections_Reset = Method<"Reset", &IEnumConnections::Reset>;
using EnumConnections_Clone = Method<"Clone", &IEnumConnections::Clone, Out<ObjectCodec<IEnumConnections>>>;

using EnumConnectionPoints_Next =
    Method<"Next", &IEnumConnectionPoints::Next, Capacity, Buf<ObjectCodec<IConnectionPoint>>, OutCount>;
using EnumConnectionPoints_Skip = Method<"Skip", &IEnumConnectionPoints::Skip, In<U>>;
using EnumConnectionPoints_Reset = Method<"Reset", &IEnumConnectionPoints::Reset>;
using EnumConnectionPoints_Clone =
    Method<"Clone", &IEnumConnectionPoints::Clone, Out<ObjectCodec<IEnumConnectionPoints>>>;

using DataObject_GetData = Method<"GetData", &IDataObject::GetData, InPtr<FormatEtcCodec>, Out<MediumCodec>>;
using DataObject_GetDataHere =
    Method<"GetDataHere", &IDataObject::GetDataHere, InPtr<FormatEtcCodec>, Out<MediumCodec>>;
using DataObject_QueryGetData = Method<"QueryGetData", &IDataObject::QueryGetData, InPtr<FormatEtcCodec>>;
using DataObject_GetCanonicalFormatEtc = Method<"GetCanonicalFormatEtc", &IDataObject::GetCanonicalFormatEtc,
                                                InPtr<FormatEtcCodec>, Out<FormatEtcCodec>>;
using DataObject_SetData =
    Method<"SetData", &IDataObject::SetData, InPtr<FormatEtcCodec>, InPtr<MediumCodec>, In<B>>;
using DataObject_EnumFormatEtc = Method<"EnumFormatEtc", &IDataObject::EnumFormatEtc, In<U>, OutNull>;
using DataObject_DAdvise = Method<"DAdvise", &IDataObject::DAdvise, InPtr<FormatEtcCodec>, In<U>,
                                  In<ObjectCodec<IAdviseSink, false>>, Out<U>>;
using DataObject_DUnadvise = Method<"DUnadvise", &IDataObject::DUnadvise, In<U>>;
using DataObject_EnumDAdvise = Method<"EnumDAdvise", &IDataObject::EnumDAdvise, OutNull>;

using AdviseSink_OnDataChange =
    Method<"OnDataChange", &IAdviseSink::OnDataChange, InPtr<FormatEtcCodec>, InPtr<MediumCodec>>;
}  // namespace tables

// Registers the tables above (idempotent).
void registerPlatformTables();

}  // namespace platform::com::dbus
