#pragma once

#include <QString>
#include <cfloat>
#include <cmath>
#include <type_traits>

#include "platform/com/com_ptr.h"
#include "platform/com/data_transfer.h"
#include "platform/com/dbus/bus_names.h"
#include "platform/com/dbus/peer.h"
#include "platform/com/dbus/wire.h"
#include "platform/com/filetime.h"
#include "platform/com/interfaces.h"
#include "platform/com/task_memory.h"
#include "platform/com/variant.h"

namespace platform::com::dbus {

// Codecs turn one COM value into its D-Bus form and back. Each has:
//   Wire                         the Qt type that travels (its D-Bus signature is the argument's)
//   Store<P>                     what holds a decoded value of C++ type P
//   toWire(const T&, Wire&, Peer&)    S_OK, or the failure a marshaling error gives in COM
//   fromWire(const Wire&, T&, Peer&)  allocates what T owns the way the platform does (task memory,
//                                     BSTR, global memory, references)
//   clear(T&)                    frees what fromWire or a callee put into T
template <class W>
struct PlainCodec {
    using Wire = W;
    template <class P>
    using Store = P;
    template <class T>
    static void clear(T&) {}
};

// DWORD, ULONG, HRESULT, the enums: "u" (a failure code travels as its bit pattern).
struct U : PlainCodec<uint> {
    template <class T>
    static HRESULT toWire(const T& v, uint& w, Peer&) {
        w = static_cast<uint>(v);
        return S_OK;
    }
    template <class T>
    static HRESULT fromWire(const uint& w, T& v, Peer&) {
        v = static_cast<T>(w);
        return S_OK;
    }
};
struct I : PlainCodec<int> {
    template <class T>
    static HRESULT toWire(const T& v, int& w, Peer&) {
        w = static_cast<int>(v);
        return S_OK;
    }
    template <class T>
    static HRESULT fromWire(const int& w, T& v, Peer&) {
        v = static_cast<T>(w);
        return S_OK;
    }
};
struct Q : PlainCodec<ushort> {
    template <class T>
    static HRESULT toWire(const T& v, ushort& w, Peer&) {
        w = static_cast<ushort>(v);
        return S_OK;
    }
    template <class T>
    static HRESULT fromWire(const ushort& w, T& v, Peer&) {
        v = static_cast<T>(w);
        return S_OK;
    }
};
// BOOL: any non-zero value is true; true arrives as 1.
struct B : PlainCodec<bool> {
    template <class T>
    static HRESULT toWire(const T& v, bool& w, Peer&) {
        w = v != 0;
        return S_OK;
    }
    template <class T>
    static HRESULT fromWire(const bool& w, T& v, Peer&) {
        v = w ? 1 : 0;
        return S_OK;
    }
};
// FLOAT travels as a double; one beyond the float range is an overflow (an infinity or a NaN arrives
// as it is, for the callee to judge).
struct D : PlainCodec<double> {
    template <class T>
    static HRESULT toWire(const T& v, double& w, Peer&) {
        w = static_cast<double>(v);
        return S_OK;
    }
    template <class T>
    static HRESULT fromWire(const double& w, T& v, Peer&) {
        if constexpr (std::is_same_v<T, float>)
            if (std::isfinite(w) && std::fabs(w) > FLT_MAX) return DISP_E_OVERFLOW;
        v = static_cast<T>(w);
        return S_OK;
    }
};
struct FileTimeCodec : PlainCodec<qulonglong> {
    static HRESULT toWire(const FILETIME& v, qulonglong& w, Peer&) {
        w = v.ticks();
        return S_OK;
    }
    static HRESULT fromWire(const qulonglong& w, FILETIME& v, Peer&) {
        v = FILETIME::fromTicks(w);
        return S_OK;
    }
};

// LPWSTR/LPCWSTR: UTF-8 on the wire, task-allocated UTF-16 here.
struct S {
    using Wire = QString;
    template <class P>
    using Store = OLECHAR*;
    template <class T>
    static HRESULT toWire(const T& v, QString& w, Peer&) {
        w = v ? QString::fromUtf16(v) : QString();
        return S_OK;
    }
    static HRESULT fromWire(const QString& w, OLECHAR*& v, Peer&) {
        v = taskString(std::u16string_view(reinterpret_cast<const char16_t*>(w.utf16()),
                                           static_cast<std::size_t>(w.size())));
        return v ? S_OK : E_OUTOFMEMORY;
    }
    template <class T>
    static void clear(T& v) {
        CoTaskMemFree(const_cast<OLECHAR*>(v));
        v = nullptr;
    }
};

// An IID or CLSID in registry form; compared ignoring case.
struct GuidCodec : PlainCodec<QString> {
    static HRESULT toWire(const GUID& v, QString& w, Peer&);
    static HRESULT fromWire(const QString& w, GUID& v, Peer&);
};

// VARIANT as (qv), by the table of the contract; E_INVALIDARG for a value that does not match its type,
// DISP_E_BADVARTYPE for a type that cannot travel.
struct VariantCodec {
    using Wire = WireVariant;
    template <class P>
    using Store = P;
    static HRESULT toWire(const VARIANT& v, WireVariant& w, Peer&);
    static HRESULT fromWire(const WireVariant& w, VARIANT& v, Peer&);
    static void clear(VARIANT& v) { VariantClear(&v); }
};

// FORMATETC as (suiu): a registered clipboard format by its name, a predefined one as "#<number>". A
// name this process never registered cannot be a format it offers: it arrives as format 0, which
// every data object refuses, instead of growing the format table for whatever a peer sends.
struct FormatEtcCodec {
    using Wire = WireFormatEtc;
    template <class P>
    using Store = P;
    static HRESULT toWire(const FORMATETC& v, WireFormatEtc& w, Peer&);
    static HRESULT fromWire(const WireFormatEtc& w, FORMATETC& v, Peer&);
    static void clear(FORMATETC&) {}
};

// STGMEDIUM as (uay): only global memory (or nothing) travels; the bytes land in a new movable block.
struct MediumCodec {
    using Wire = WireMedium;
    template <class P>
    using Store = P;
    static HRESULT toWire(const STGMEDIUM& v, WireMedium& w, Peer&);
    static HRESULT fromWire(const WireMedium& w, STGMEDIUM& v, Peer&);
    static void clear(STGMEDIUM& v) { ReleaseStgMedium(&v); }
};

// An interface pointer as an object path: exported for the peer, or a proxy of the peer's object.
// Known: the sender hands the path out as exactly this interface; otherwise the object is asked.
template <class Itf, bool Known = true>
struct ObjectCodec {
    using Wire = QDBusObjectPath;
    template <class P>
    using Store = P;
    static HRESULT toWire(Itf* const& v, QDBusObjectPath& w, Peer& peer) {
        w = peer.exportObject(v);
        return S_OK;
    }
    static HRESULT fromWire(const QDBusObjectPath& w, Itf*& v, Peer& peer) {
        v = nullptr;
        if (w.path() == kNullPath) return S_OK;
        return peer.importObject(w, Itf::kIid, Known || Itf::kIid == IID_IUnknown,
                                 reinterpret_cast<void**>(&v));
    }
    static void clear(Itf*& v) {
        if (v) v->Release();
        v = nullptr;
    }
};

// A connection of a connection point: the sink is the receiver's own object (a server enumerating the
// connections of a client hands the client back its own sinks, never an object of its own standing in
// for them); another's sink travels as "/" and arrives as null.
struct ConnectDataCodec {
    using Wire = WireConnectData;
    template <class P>
    using Store = P;
    static HRESULT toWire(const CONNECTDATA& v, WireConnectData& w, Peer& peer) {
        w.sink = peer.pathBack(v.pUnk);
        w.cookie = v.dwCookie;
        return S_OK;
    }
    static HRESULT fromWire(const WireConnectData& w, CONNECTDATA& v, Peer& peer) {
        v.dwCookie = w.cookie;
        v.pUnk = w.sink.path() == kNullPath ? nullptr : peer.ownObject(w.sink);
        return S_OK;
    }
    static void clear(CONNECTDATA& v) {
        if (v.pUnk) v.pUnk->Release();
        v.pUnk = nullptr;
    }
};

// Registered clipboard format numbers by name, without registering a new one: 0 when unknown.
UINT findClipboardFormat(const QString& name);

}  // namespace platform::com::dbus
