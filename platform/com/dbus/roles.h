#pragma once

#include <QDBusMessage>
#include <QVariantList>
#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/dbus/codecs.h"

namespace platform::com::dbus {

// The roles a parameter plays in a signature table (see marshal.h). Each role knows its part of the
// D-Bus signatures, how the stub decodes, holds, passes and encodes it, and how the proxy encodes it
// and hands the answer to the caller:
//
//   In<C>        an [in] value                         Out<C>       an [out] value
//   InPtr<C>     an [in] structure passed by pointer   OutPtr<C>    an [out] structure the callee allocates
//   Opt<C>       a [unique] [in] pointer: 0 or 1 items OutArr<C>    an [out] array the callee allocates
//   Arr<C>       an [in] array sized by Count          Buf<C>       an [out] array the caller allocates
//   Count        the count of the [in] arrays (dropped) OutCount    the count of the [out] arrays (dropped)
//   Capacity     the size of a Buf (celt)              Iid          an interface identifier ([in] riid)
//   Outer        the outer unknown (never sent)        OutItfIid    an [out] interface of type Iid
inline constexpr std::uint32_t kMaxBatch = 65536;  // items one enumerator call may ask for
inline constexpr HRESULT RPC_X_BAD_STUB_DATA = hr(0x800706F7);
inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE = hr(0x800706BA);

// What the roles of one call share.
struct CallState {
    explicit CallState(Peer& p) : peer(p) {}
    Peer& peer;
    HRESULT failure = S_OK;
    HRESULT result = S_OK;  // what the callee answered (at the proxy, before the [out] values decode)
    std::uint32_t inCount = 0;
    bool haveInCount = false;
    std::uint32_t capacity = 0;
    std::uint32_t outCount = 0;
    bool haveOutCount = false;
    bool sizedByOutCount = false;
    IID iid{};

    bool fail(HRESULT r) {
        if (SUCCEEDED(failure)) failure = r;
        return false;
    }
    bool noteInLength(qsizetype n) {
        if (haveInCount && static_cast<qsizetype>(inCount) != n) return fail(E_INVALIDARG);
        inCount = static_cast<std::uint32_t>(n);
        haveInCount = true;
        return true;
    }
    std::uint32_t outLength() const { return sizedByOutCount ? outCount : inCount; }
    // An [out] array arriving at the proxy: all equally long, and as long as the [in] arrays unless an
    // [out] count sizes them.
    bool noteOutLength(qsizetype n) {
        if (sizedByOutCount) {
            if (haveOutCount && static_cast<qsizetype>(outCount) != n) return fail(RPC_X_BAD_STUB_DATA);
            outCount = static_cast<std::uint32_t>(n);
            haveOutCount = true;
            return true;
        }
        return static_cast<qsizetype>(inCount) == n || fail(RPC_X_BAD_STUB_DATA);
    }
};

template <class W>
W takeWire(const QVariantList& in, int& pos) {
    return qdbus_cast<W>(in.at(pos++));
}
template <class W>
void putWire(QVariantList& out, const W& w) {
    out << QVariant::fromValue(w);
}
// The first `count` values as one wire list, each through the codec `C`; false (the call failed) at the
// first value the codec refuses.
template <class C, class T>
bool putWireList(QVariantList& out, CallState& c, const T* values, std::uint32_t count) {
    QList<typename C::Wire> list;
    list.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        typename C::Wire w{};
        if (const HRESULT r = C::toWire(values[i], w, c.peer); FAILED(r)) return c.fail(r);
        list.append(w);
    }
    putWire(out, list);
    return true;
}

// Defaults of a role: no wire argument, nothing to do.
struct RoleBase {
    static void inSig(QString&) {}
    static void outSig(QString&) {}
    static constexpr bool isOutCount = false;
    struct StubBase {
        bool decode(const QVariantList&, int&, CallState&) { return true; }
        bool prepare(CallState&) { return true; }
        void publish(CallState&, HRESULT) {}
        void settle(CallState&, HRESULT) {}
        bool encode(QVariantList&, CallState&, HRESULT) { return true; }
    };
    struct ProxyBase {
        template <class P>
        bool encode(P, QVariantList&, CallState&) {
            return true;
        }
        bool decode(const QVariantList&, int&, CallState&) { return true; }
    };
};

template <class C>
struct In : RoleBase {
    static void inSig(QString& s) { s += signatureOf<typename C::Wire>(); }
    template <class P>
    struct Stub : StubBase {
        typename C::template Store<P> value{};
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() { C::clear(value); }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const HRESULT r = C::fromWire(takeWire<typename C::Wire>(in, pos), value, c.peer);
            return SUCCEEDED(r) || c.fail(r);
        }
        P arg(CallState&) { return value; }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList& out, CallState& c) {
            typename C::Wire w{};
            if (const HRESULT r = C::toWire(p, w, c.peer); FAILED(r)) return c.fail(r);
            putWire(out, w);
            return true;
        }
        void commit(P, CallState&, bool) {}
    };
};

template <class C>
struct InPtr : RoleBase {
    static void inSig(QString& s) { s += signatureOf<typename C::Wire>(); }
    template <class P>
    struct Stub : StubBase {
        using T = std::remove_pointer_t<P>;
        T value{};
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() { C::clear(value); }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const HRESULT r = C::fromWire(takeWire<typename C::Wire>(in, pos), value, c.peer);
            return SUCCEEDED(r) || c.fail(r);
        }
        P arg(CallState&) { return &value; }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList& out, CallState& c) {
            if (!p) return c.fail(E_POINTER);
            typename C::Wire w{};
            if (const HRESULT r = C::toWire(*p, w, c.peer); FAILED(r)) return c.fail(r);
            putWire(out, w);
            return true;
        }
        void commit(P, CallState&, bool) {}
    };
};

template <class C>
struct Opt : RoleBase {
    static void inSig(QString& s) { s += QLatin1Char('a') + signatureOf<typename C::Wire>(); }
    template <class P>
    struct Stub : StubBase {
        using T = std::remove_pointer_t<P>;
        T value{};
        bool present = false;
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() { C::clear(value); }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const auto list = takeWire<QList<typename C::Wire>>(in, pos);
            if (list.size() > 1) return c.fail(E_INVALIDARG);
            if (list.isEmpty()) return true;
            present = true;
            const HRESULT r = C::fromWire(list.front(), value, c.peer);
            return SUCCEEDED(r) || c.fail(r);
        }
        P arg(CallState&) { return present ? &value : nullptr; }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList& out, CallState& c) { return putWireList<C>(out, c, p, p ? 1u : 0u); }
        void commit(P, CallState&, bool) {}
    };
};

template <class C>
struct Arr : RoleBase {
    static void inSig(QString& s) { s += QLatin1Char('a') + signatureOf<typename C::Wire>(); }
    template <class P>
    struct Stub : StubBase {
        using T = std::remove_const_t<std::remove_pointer_t<P>>;
        std::vector<T> values;
        T none{};  // what an empty array points to: never a null pointer
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() {
            for (T& v : values) C::clear(v);
        }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const auto list = takeWire<QList<typename C::Wire>>(in, pos);
            if (!c.noteInLength(list.size())) return false;
            values.reserve(static_cast<std::size_t>(list.size()));
            for (const auto& w : list) {
                values.emplace_back();
                if (const HRESULT r = C::fromWire(w, values.back(), c.peer); FAILED(r)) return c.fail(r);
            }
            return true;
        }
        P arg(CallState&) { return values.empty() ? &none : values.data(); }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList& out, CallState& c) {
            if (!p && c.inCount) return c.fail(E_POINTER);
            return putWireList<C>(out, c, p, c.inCount);
        }
        void commit(P, CallState&, bool) {}
    };
};

struct Count : RoleBase {
    template <class P>
    struct Stub : StubBase {
        P arg(CallState& c) { return c.inCount; }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList&, CallState& c) {
            c.inCount = p;
            c.haveInCount = true;
            return true;
        }
        void commit(P, CallState&, bool) {}
    };
};

struct Capacity : RoleBase {
    static void inSig(QString& s) { s += QLatin1Char('u'); }
    template <class P>
    struct Stub : StubBase {
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            c.capacity = takeWire<uint>(in, pos);
            // The stub allocates what the caller asks for: a bound keeps a peer from making it take all.
            return c.capacity <= kMaxBatch || c.fail(E_OUTOFMEMORY);
        }
        P arg(CallState& c) { return c.capacity; }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList& out, CallState& c) {
            c.capacity = p;
            putWire(out, uint{p});
            return true;
        }
        void commit(P, CallState&, bool) {}
    };
};

struct Iid : RoleBase {
    static void inSig(QString& s) { s += QLatin1Char('s'); }
    template <class P>
    struct Stub : StubBase {
        IID value{};
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const HRESULT r = GuidCodec::fromWire(takeWire<QString>(in, pos), value, c.peer);
            c.iid = value;
            return SUCCEEDED(r) || c.fail(r);
        }
        P arg(CallState&) { return value; }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList& out, CallState& c) {
            QString w;
            GuidCodec::toWire(p, w, c.peer);
            c.iid = p;
            putWire(out, w);
            return true;
        }
        void commit(P, CallState&, bool) {}
    };
};

struct Outer : RoleBase {
    template <class P>
    struct Stub : StubBase {
        P arg(CallState&) { return nullptr; }
    };
    // An outer unknown cannot cross processes.
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P p, QVariantList&, CallState& c) { return !p || c.fail(CLASS_E_NOAGGREGATION); }
        void commit(P, CallState&, bool) {}
    };
};

template <class C>
struct Out : RoleBase {
    static void outSig(QString& s) { s += signatureOf<typename C::Wire>(); }
    template <class P>
    struct Stub : StubBase {
        using T = std::remove_pointer_t<P>;
        typename C::template Store<T> value{};
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() { C::clear(value); }
        P arg(CallState&) { return &value; }
        bool encode(QVariantList& out, CallState& c, HRESULT result) {
            typename C::Wire w{};
            if (SUCCEEDED(result)) {
                if (const HRESULT r = C::toWire(value, w, c.peer); FAILED(r)) return c.fail(r);
            } else {
                const T zero{};
                C::toWire(zero, w, c.peer);
            }
            putWire(out, w);
            return true;
        }
    };
    template <class P>
    struct Proxy : ProxyBase {
        using T = std::remove_pointer_t<P>;
        T value{};
        Proxy() = default;
        Proxy(const Proxy&) = delete;
        ~Proxy() { C::clear(value); }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const HRESULT r = C::fromWire(takeWire<typename C::Wire>(in, pos), value, c.peer);
            return SUCCEEDED(r) || c.fail(r);
        }
        void commit(P p, CallState&, bool success) {
            if (!p) return;
            *p = T{};
            if (success) std::swap(*p, value);
        }
    };
};

template <class C>
struct OutPtr : RoleBase {
    static void outSig(QString& s) { s += signatureOf<typename C::Wire>(); }
    template <class P>
    struct Stub : StubBase {
        using T = std::remove_pointer_t<std::remove_pointer_t<P>>;
        T* value = nullptr;
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() {
            if (!value) return;
            C::clear(*value);
            CoTaskMemFree(value);
        }
        P arg(CallState&) { return &value; }
        bool encode(QVariantList& out, CallState& c, HRESULT result) {
            typename C::Wire w{};
            if (SUCCEEDED(result) && value) {
                if (const HRESULT r = C::toWire(*value, w, c.peer); FAILED(r)) return c.fail(r);
            } else {
                const T zero{};
                C::toWire(zero, w, c.peer);
            }
            putWire(out, w);
            return true;
        }
    };
    template <class P>
    struct Proxy : ProxyBase {
        using T = std::remove_pointer_t<std::remove_pointer_t<P>>;
        T* value = nullptr;
        Proxy() = default;
        Proxy(const Proxy&) = delete;
        ~Proxy() {
            if (!value) return;
            C::clear(*value);
            CoTaskMemFree(value);
        }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            value = taskArray<T>(1);
            if (!value) return c.fail(E_OUTOFMEMORY);
            const HRESULT r = C::fromWire(takeWire<typename C::Wire>(in, pos), *value, c.peer);
            return SUCCEEDED(r) || c.fail(r);
        }
        void commit(P p, CallState&, bool success) {
            if (!p) return;
            *p = success ? std::exchange(value, nullptr) : nullptr;
        }
    };
};

// A task-allocated array of `count` filled entries, cleared through the codec `C` and freed unless it
// has been handed on (values set to null).
template <class C, class T>
struct OwnedTaskArray {
    T* values = nullptr;
    std::uint32_t count = 0;
    OwnedTaskArray() = default;
    OwnedTaskArray(const OwnedTaskArray&) = delete;
    OwnedTaskArray& operator=(const OwnedTaskArray&) = delete;
    ~OwnedTaskArray() {
        if (!values) return;
        for (std::uint32_t i = 0; i < count; ++i) C::clear(values[i]);
        CoTaskMemFree(values);
    }
};

template <class C>
struct OutArr : RoleBase {
    static void outSig(QString& s) { s += QLatin1Char('a') + signatureOf<typename C::Wire>(); }
    template <class P>
    using Owned = OwnedTaskArray<C, std::remove_pointer_t<std::remove_pointer_t<P>>>;
    template <class P>
    struct Stub : StubBase, Owned<P> {
        using Owned<P>::values;
        using Owned<P>::count;
        P arg(CallState&) { return &values; }
        void settle(CallState& c, HRESULT result) { count = SUCCEEDED(result) && values ? c.outLength() : 0; }
        bool encode(QVariantList& out, CallState& c, HRESULT result) {
            return putWireList<C>(out, c, values, SUCCEEDED(result) ? count : 0);
        }
    };
    template <class P>
    struct Proxy : ProxyBase, Owned<P> {
        using T = std::remove_pointer_t<std::remove_pointer_t<P>>;
        using Owned<P>::values;
        using Owned<P>::count;
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const auto list = takeWire<QList<typename C::Wire>>(in, pos);
            if (!c.noteOutLength(list.size())) return false;
            values = taskArray<T>(static_cast<std::size_t>(list.size()));
            if (!values) return c.fail(E_OUTOFMEMORY);
            for (const auto& w : list) {
                const HRESULT r = C::fromWire(w, values[count], c.peer);
                ++count;
                if (FAILED(r)) return c.fail(r);
            }
            return true;
        }
        void commit(P p, CallState&, bool success) {
            if (!p) return;
            *p = nullptr;
            if (!success) return;
            *p = std::exchange(values, nullptr);
            count = 0;
        }
    };
};

template <class C>
struct Buf : RoleBase {
    static void outSig(QString& s) { s += QLatin1Char('a') + signatureOf<typename C::Wire>(); }
    template <class P>
    struct Stub : StubBase {
        using T = std::remove_pointer_t<P>;
        std::vector<T> values;
        T none{};
        std::uint32_t count = 0;
        Stub() = default;
        Stub(const Stub&) = delete;
        ~Stub() {
            for (std::uint32_t i = 0; i < count; ++i) C::clear(values[i]);
        }
        bool prepare(CallState& c) {
            values.assign(c.capacity, T{});
            return true;
        }
        P arg(CallState&) { return values.empty() ? &none : values.data(); }
        void settle(CallState& c, HRESULT result) {
            count = SUCCEEDED(result)
                        ? std::min<std::uint32_t>(c.outCount, static_cast<std::uint32_t>(values.size()))
                        : 0;
        }
        bool encode(QVariantList& out, CallState& c, HRESULT) {
            return putWireList<C>(out, c, values.data(), count);
        }
    };
    template <class P>
    struct Proxy : ProxyBase {
        using T = std::remove_pointer_t<P>;
        std::vector<T> values;
        Proxy() = default;
        Proxy(const Proxy&) = delete;
        ~Proxy() {
            for (T& v : values) C::clear(v);
        }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const auto list = takeWire<QList<typename C::Wire>>(in, pos);
            if (list.size() > static_cast<qsizetype>(c.capacity)) return c.fail(RPC_X_BAD_STUB_DATA);
            if (!c.noteOutLength(list.size())) return false;
            values.reserve(static_cast<std::size_t>(list.size()));
            for (const auto& w : list) {
                values.emplace_back();
                if (const HRESULT r = C::fromWire(w, values.back(), c.peer); FAILED(r)) return c.fail(r);
            }
            return true;
        }
        bool encode(P, QVariantList&, CallState&) { return true; }
        void commit(P p, CallState&, bool success) {
            if (!success || !p) return;
            for (std::size_t i = 0; i < values.size(); ++i) p[i] = std::exchange(values[i], T{});
            values.clear();
        }
    };
};

struct OutCount : RoleBase {
    static constexpr bool isOutCount = true;
    template <class P>
    struct Stub : StubBase {
        std::remove_pointer_t<P> value = 0;
        P arg(CallState&) { return &value; }
        void publish(CallState& c, HRESULT result) {
            c.outCount = SUCCEEDED(result) ? value : 0;
            c.haveOutCount = true;
        }
    };
    template <class P>
    struct Proxy : ProxyBase {
        bool encode(P, QVariantList&, CallState&) { return true; }
        void commit(P p, CallState& c, bool success) {
            if (p) *p = success ? c.outCount : 0;
        }
    };
};

struct OutItfIid : RoleBase {
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
        bool encode(QVariantList& out, CallState& c, HRESULT result) {
            putWire(out, SUCCEEDED(result) ? c.peer.exportObject(static_cast<IUnknown*>(value))
                                           : QDBusObjectPath(QStringLiteral("/")));
            return true;
        }
    };
    template <class P>
    struct Proxy : ProxyBase {
        void* value = nullptr;
        Proxy() = default;
        Proxy(const Proxy&) = delete;
        ~Proxy() {
            if (value) static_cast<IUnknown*>(value)->Release();
        }
        bool encode(P, QVariantList&, CallState&) { return true; }
        bool decode(const QVariantList& in, int& pos, CallState& c) {
            const QDBusObjectPath path = takeWire<QDBusObjectPath>(in, pos);
            // Null only where the method says it found nothing (S_FALSE); S_OK promises an object.
            if (path.path() == kNullPath) return c.result != S_OK || c.fail(RPC_X_BAD_STUB_DATA);
            const HRESULT r = c.peer.importObject(path, c.iid, true, &value);
            return SUCCEEDED(r) || c.fail(r);
        }
        void commit(P p, CallState&, bool success) {
            if (!p) return;
            *p = nullptr;
            if (success) *reinterpret_cast<void**>(p) = std::exchange(value, nullptr);
        }
    };
};

}  // namespace platform::com::dbus
