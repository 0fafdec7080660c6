#pragma once

#include <QTcpSocket>
#include <optional>

#include "ferrow/ua/session_messages.h"
#include "tests/ferrow/ua/wire_client.h"

namespace ferrow::ua::test {

// A UA client over a real socket for tests: the wire client's messages sent, replies awaited with a
// limit that only bounds a hang.
class SocketClient {
  public:
    bool connectTo(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));
    void sendRaw(const std::string& bytes);
    // The next reply, or nothing when the limit passed or the peer closed without one.
    std::optional<WireClient::Reply> next();
    // HEL and OPN; true when both were answered.
    bool openChannel();
    // CreateSession and ActivateSession (anonymous); true when both succeeded.
    bool openSession(double timeoutMs = 60000);

    template <class Request>
    std::optional<WireClient::Reply> call(std::uint32_t typeId, Request request) {
        sendRaw(wire.request(typeId, std::move(request)));
        return next();
    }
    template <class Response, class Request>
    Response callFor(std::uint32_t typeId, Request request, std::uint32_t responseTypeId) {
        const auto reply = call(typeId, std::move(request));
        if (!reply || reply->typeId != responseTypeId) return Response{};
        return WireClient::decode<Response>(*reply);
    }
    // True once the peer closed the connection (within the limit).
    bool waitClosed();

    WireClient wire;
    QTcpSocket socket;
    std::string buffer;
    std::vector<WireClient::Reply> pending;
};

// The status of a reply that is a ServiceFault or an ERR; Good otherwise.
std::uint32_t faultOf(const std::optional<WireClient::Reply>& reply);

}  // namespace ferrow::ua::test
