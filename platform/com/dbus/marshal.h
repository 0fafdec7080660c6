#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantList>
#include <algorithm>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/dbus/roles.h"

namespace platform::com::dbus {

// Signature tables: one Method per COM method, naming the method, its slot and the role of every
// parameter (roles.h). The D-Bus signatures, the server-side stub and the client-side proxy all come
// from it.

template <std::size_t N>
struct Name {
    char text[N];
    constexpr Name(const char (&s)[N]) { std::copy_n(s, N, text); }  // NOLINT: used as a literal
};

// Where a proxy's call goes.
struct CallTarget {
    QDBusConnection connection;
    QString service;
    QString path;
    QString interface;
    Peer* peer;
    int timeoutMs;
    bool reachable = true;  // false once the peer has left the bus: nothing is sent
};

// Turns a D-Bus error into the code a COM client sees.
HRESULT failureFromError(const QDBusMessage& reply);

template <class...>
struct TypeList {};
template <class F>
struct MemberFunction;
template <class C, class R, class... A>
struct MemberFunction<R (C::*)(A...)> {
    using Class = C;
    using Result = R;
    using Args = TypeList<A...>;
};

// One COM method of an interface table: stub, proxy and signatures from the roles of its parameters.
template <Name N, auto M, class... Ro>
struct Method {
    using Fn = MemberFunction<decltype(M)>;
    using Itf = typename Fn::Class;
    static constexpr bool kOneWay = std::is_void_v<typename Fn::Result>;
    static constexpr bool kSizedByOutCount = (Ro::isOutCount || ... || false);

    static QString name() { return QString::fromLatin1(N.text); }
    static QString inSignature() {
        QString s;
        (Ro::inSig(s), ...);
        return s;
    }
    // One-way methods have no reply; every other method answers its HRESULT first.
    static QString outSignature() {
        if constexpr (kOneWay) {
            return {};
        } else {
            QString s = QStringLiteral("u");
            (Ro::outSig(s), ...);
            return s;
        }
    }

    // Decodes `in`, calls the method on `object` (an interface pointer of Itf), encodes the answer.
    static void serve(IUnknown* object, const QVariantList& in, Peer& peer, QVariantList& out) {
        serveWith(static_cast<Itf*>(object), in, peer, out, typename Fn::Args{},
                  std::index_sequence_for<Ro...>{});
    }

    template <class... X>
    static HRESULT call(const CallTarget& target, X&&... args) {
        return callWith(target, typename Fn::Args{}, std::index_sequence_for<Ro...>{},
                        std::forward<X>(args)...);
    }

  private:
    template <class... A, std::size_t... K>
    static void serveWith(Itf* object, const QVariantList& in, Peer& peer, QVariantList& out, TypeList<A...>,
                          std::index_sequence<K...>) {
        static_assert(sizeof...(A) == sizeof...(Ro), "one role per parameter");
        CallState c(peer);
        c.sizedByOutCount = kSizedByOutCount;
        std::tuple<typename Ro::template Stub<A>...> roles;
        [[maybe_unused]] int pos = 0;
        const bool ready =
            (std::get<K>(roles).decode(in, pos, c) && ...) && (std::get<K>(roles).prepare(c) && ...);
        HRESULT result = c.failure;
        if (ready) {
            if constexpr (kOneWay) {
                (object->*M)(std::get<K>(roles).arg(c)...);
                result = S_OK;
            } else {
                result = (object->*M)(std::get<K>(roles).arg(c)...);
            }
            (std::get<K>(roles).publish(c, result), ...);
        }
        (std::get<K>(roles).settle(c, result), ...);
        if constexpr (!kOneWay) {
            out << QVariant::fromValue(static_cast<uint>(result));
            if (!(std::get<K>(roles).encode(out, c, result) && ...)) {
                // A value that cannot travel fails the call as a whole, with empty results.
                out.clear();
                result = c.failure;
                out << QVariant::fromValue(static_cast<uint>(result));
                (std::get<K>(roles).encode(out, c, result), ...);
            }
        }
    }

    template <class... A, std::size_t... K, class... X>
    static HRESULT callWith(const CallTarget& target, TypeList<A...>, std::index_sequence<K...>,
                            X&&... args) {
        CallState c(*target.peer);
        c.sizedByOutCount = kSizedByOutCount;
        std::tuple<typename Ro::template Proxy<A>...> roles;
        [[maybe_unused]] std::tuple<A...> params(std::forward<X>(args)...);
        QVariantList in;
        const bool encoded = (std::get<K>(roles).encode(std::get<K>(params), in, c) && ...);
        HRESULT result = c.failure;
        bool success = false;
        if (encoded && !target.reachable) {
            result = RPC_E_DISCONNECTED;
        } else if (encoded) {
            QDBusMessage message =
                QDBusMessage::createMethodCall(target.service, target.path, target.interface, name());
            message.setArguments(in);
            if constexpr (kOneWay) {
                target.connection.send(message);
                return S_OK;
            } else {
                const QDBusMessage reply = target.connection.call(message, QDBus::Block, target.timeoutMs);
                result = replyResult(reply);
                if (SUCCEEDED(result)) {
                    c.result = result;
                    int pos = 1;
                    success = (std::get<K>(roles).decode(reply.arguments(), pos, c) && ...);
                    if (!success) result = c.failure;
                }
            }
        }
        (std::get<K>(roles).commit(std::get<K>(params), c, success), ...);
        return result;
    }

    static HRESULT replyResult(const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) return failureFromError(reply);
        if (reply.signature() != outSignature()) return RPC_X_BAD_STUB_DATA;
        return static_cast<HRESULT>(reply.arguments().at(0).toUInt());
    }
};

}  // namespace platform::com::dbus
