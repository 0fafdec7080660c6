#include "tests/ferrow/ua/socket_client.h"

#include <QElapsedTimer>

#include "ferrow/ua/status_codes.h"

namespace ferrow::ua::test {

namespace {
constexpr int kHangLimitMs = 10000;
}

bool SocketClient::connectTo(quint16 port, const QString& host) {
    socket.connectToHost(host, port);
    return socket.waitForConnected(kHangLimitMs);
}

void SocketClient::sendRaw(const std::string& bytes) {
    socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket.waitForBytesWritten(kHangLimitMs);
}

std::optional<WireClient::Reply> SocketClient::next() {
    QElapsedTimer timer;
    timer.start();
    while (pending.empty()) {
        const QByteArray data = socket.readAll();
        buffer.append(data.constData(), static_cast<std::size_t>(data.size()));
        for (auto& reply : wire.read(buffer)) pending.push_back(std::move(reply));
        if (!pending.empty()) break;
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0)
            return std::nullopt;
        if (timer.elapsed() > kHangLimitMs) return std::nullopt;
        socket.waitForReadyRead(200);
    }
    WireClient::Reply reply = std::move(pending.front());
    pending.erase(pending.begin());
    return reply;
}

bool SocketClient::openChannel() {
    sendRaw(wire.hello());
    const auto ack = next();
    if (!ack || ack->type != "ACK") return false;
    sendRaw(wire.open());
    const auto opn = next();
    return opn && opn->type == "OPN";
}

bool SocketClient::openSession(double timeoutMs) {
    CreateSessionRequest create;
    create.sessionName = "test";
    create.requestedSessionTimeout = timeoutMs;
    const auto created =
        callFor<CreateSessionResponse>(id::CreateSessionRequest, create, id::CreateSessionResponse);
    if (created.authenticationToken.isNull()) return false;
    wire.authenticationToken = created.authenticationToken;
    ActivateSessionRequest activate;
    const auto reply = call(id::ActivateSessionRequest, activate);
    return reply && reply->typeId == id::ActivateSessionResponse;
}

bool SocketClient::waitClosed() {
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < kHangLimitMs)
        socket.waitForDisconnected(200);
    return socket.state() != QAbstractSocket::ConnectedState;
}

std::uint32_t faultOf(const std::optional<WireClient::Reply>& reply) {
    if (!reply) return status::BadCommunicationError;
    if (reply->type == "ERR") return reply->error;
    if (reply->typeId != id::ServiceFault) return status::Good;
    return WireClient::decode<ServiceFault>(*reply).responseHeader.serviceResult.code;
}

}  // namespace ferrow::ua::test
