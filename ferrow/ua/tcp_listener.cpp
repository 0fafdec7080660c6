#include "ferrow/ua/tcp_listener.h"

#include <QTcpServer>
#include <QTcpSocket>

#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {
constexpr int kHousekeepingMs = 200;
}

struct UaTcpListener::Peer : ConnectionSink {
    UaTcpListener* owner = nullptr;
    std::uint64_t id = 0;
    QTcpSocket* socket = nullptr;
    std::unique_ptr<UaConnection> connection;
    bool closing = false;

    void send(std::string bytes) override {
        if (closing) return;
        socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
        // A peer that stops reading its responses does not make the endpoint hold them without end.
        if (static_cast<std::size_t>(socket->bytesToWrite()) > limits::kMaxPendingOutput) {
            closing = true;
            owner->dropLater(id);
        }
    }
    void closeConnection() override {
        if (closing) return;
        closing = true;
        socket->disconnectFromHost();  // sends what is queued (an ERR) first
        owner->removeLater(id);
    }
};

UaTcpListener::UaTcpListener(RequestHandler& handler, std::function<void(Clock::time_point)> housekeeping,
                             QObject* parent)
    : QObject(parent), handler_(handler), housekeeping_(std::move(housekeeping)) {
    housekeepingTimer_.setInterval(kHousekeepingMs);
    connect(&housekeepingTimer_, &QTimer::timeout, this, &UaTcpListener::onHousekeeping);
    housekeepingTimer_.start();
}

UaTcpListener::~UaTcpListener() { closeAll(); }

QString UaTcpListener::listen(const QList<QHostAddress>& addresses, quint16 port) {
    QString skipped;
    for (const QHostAddress& address : addresses) {
        auto* server = new QTcpServer(this);
        server->setMaxPendingConnections(64);
        if (!server->listen(address, port)) {
            const QString error =
                QStringLiteral("%1 port %2: %3").arg(address.toString()).arg(port).arg(server->errorString());
            const auto reason = server->serverError();
            delete server;
            // A machine without IPv6 (or without that address) still serves on the others.
            if (reason == QAbstractSocket::SocketAddressNotAvailableError ||
                reason == QAbstractSocket::UnsupportedSocketOperationError) {
                skipped = error;
                continue;
            }
            return error;
        }
        port = server->serverPort();  // the other addresses take the same port, also one the system chose
        connect(server, &QTcpServer::newConnection, this, [this, server] { onNewConnection(server); });
        servers_.push_back(server);
    }
    return servers_.empty() ? skipped : QString();
}

quint16 UaTcpListener::port() const { return servers_.empty() ? 0 : servers_.front()->serverPort(); }

UaConnection* UaTcpListener::connection(std::uint64_t id) {
    const auto it = peers_.find(id);
    return it == peers_.end() || it->second->closing ? nullptr : it->second->connection.get();
}

void UaTcpListener::onNewConnection(QTcpServer* server) {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        if (peers_.size() >= kMaxConnections) {
            socket->write(
                QByteArray::fromStdString(errorMessage(status::BadTcpServerTooBusy, "too many connections")));
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        auto peer = std::make_unique<Peer>();
        peer->owner = this;
        peer->id = nextConnectionId_++;
        peer->socket = socket;
        socket->setParent(this);
        socket->setReadBufferSize(2 * limits::kBufferSize);
        peer->connection =
            std::make_unique<UaConnection>(peer->id, nextChannelId_++, *peer, handler_, Clock::now(),
                                           security_, socket->peerAddress().toString().toStdString());
        Peer* raw = peer.get();
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { onReadyRead(*raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] {
            raw->connection->onDisconnected();
            raw->closing = true;
            removeLater(raw->id);
        });
        peers_.emplace(peer->id, std::move(peer));
    }
}

void UaTcpListener::onReadyRead(Peer& peer) {
    char buffer[16384];
    while (!peer.closing) {
        const qint64 n = peer.socket->read(buffer, sizeof buffer);
        if (n <= 0) break;
        peer.connection->onBytes(std::string_view(buffer, static_cast<std::size_t>(n)), Clock::now());
    }
}

void UaTcpListener::onHousekeeping() {
    const auto now = Clock::now();
    std::vector<UaConnection*> due;
    for (auto& [id, peer] : peers_) {
        const auto deadline = peer->connection->nextDeadline();
        if (!peer->closing && deadline && now >= *deadline) due.push_back(peer->connection.get());
    }
    for (UaConnection* connection : due) connection->onTimer(now);
    if (housekeeping_) housekeeping_(now);
}

void UaTcpListener::dropLater(std::uint64_t id) {
    // Later, not inside the send that found the peer behind: the services may be walking their queues.
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            const auto it = peers_.find(id);
            if (it == peers_.end()) return;
            it->second->connection->onDisconnected();
            it->second->socket->abort();
            removeLater(id);
        },
        Qt::QueuedConnection);
}

void UaTcpListener::removeLater(std::uint64_t id) {
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            const auto it = peers_.find(id);
            if (it == peers_.end()) return;
            QTcpSocket* socket = it->second->socket;
            socket->disconnect(this);
            if (socket->state() == QAbstractSocket::UnconnectedState) {
                socket->deleteLater();
            } else {
                // Let the ERR leave; a peer that never takes it is cut off after the HEL limit.
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QTimer::singleShot(std::chrono::milliseconds(limits::kHelloLimit), socket,
                                   [socket] { socket->abort(); });
            }
            peers_.erase(it);
        },
        Qt::QueuedConnection);
}

void UaTcpListener::closeAll() {
    for (auto& [id, peer] : peers_) {
        peer->closing = true;
        peer->connection->onDisconnected();
        peer->socket->disconnect(this);
        peer->socket->abort();
        delete peer->socket;
    }
    peers_.clear();
    for (QTcpServer* server : servers_) delete server;
    servers_.clear();
}

}  // namespace ferrow::ua
