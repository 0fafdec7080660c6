#include "devsim/debug_service.h"

#include <QTime>
#include <algorithm>
#include <mutex>

#include "devsim/shell_service.h"
#include "devsim/simulated_device.h"
#include "devsim/tcp_helpers.h"

namespace devsim {

// The log calls its listeners on whatever thread appends; the relay hands each line to the device
// thread and is cut before the service goes, so no line reaches a service that is gone.
struct DebugService::LogRelay {
    std::mutex mutex;
    DebugService* target = nullptr;
};

namespace {
QByteArray stamped(const QByteArray& text) {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toLatin1() + text + "\r\n";
}
}  // namespace

DebugService::DebugService(SimulatedDevice& device)
    : device_(device), sessions_(*this, device.log(), "debug"), relay_(std::make_shared<LogRelay>()) {
    connect(&heartbeatTimer_, &QTimer::timeout, this, &DebugService::heartbeat);
    heartbeatTimer_.start(kDefaultHeartbeat);

    relay_->target = this;
    listenerId_ = device_.log().addListener([relay = relay_](const std::string& line) {
        std::lock_guard lock(relay->mutex);
        if (DebugService* target = relay->target)
            QMetaObject::invokeMethod(
                target, [target, line] { target->onLogLine(line); }, Qt::QueuedConnection);
    });

    // A flood by hand, for trying a viewer out: "flood <bytes>" on the shell.
    QPointer<DebugService> self(this);
    device_.shell().addCommand(
        "flood", "flood <bytes>     that many bytes of test text on the debug port",
        [self](ShellSession& session, const QByteArray& arguments) {
            bool ok = false;
            const qint64 bytes = arguments.trimmed().toLongLong(&ok);
            if (!self || !ok || bytes <= 0) {
                session.sendMessage("error: flood needs a number of bytes\r\n");
                return;
            }
            self->startFlood(bytes);
            session.sendMessage("flood of " + QByteArray::number(bytes) + " bytes to " +
                                QByteArray::number(self->connectionCount()) + " debug connection(s)\r\n");
        });
}

DebugService::~DebugService() {
    device_.log().removeListener(listenerId_);
    {
        std::lock_guard lock(relay_->mutex);
        relay_->target = nullptr;
    }
    closeAllSessions();
}

bool DebugService::listen(const QHostAddress& address, QString* error) {
    return listener_.listen(address, error);
}

void DebugService::stopListening() { listener_.close(); }

void DebugService::closeAllSessions() { sessions_.closeAll(); }

void DebugService::send(const QByteArray& bytes) {
    for (const auto& session : sessions_.all()) write(*session, bytes);
}

void DebugService::startFlood(qint64 bytes) {
    for (const auto& session : sessions_.all()) {
        session->floodLeft += bytes;
        pump(session.get());
    }
}

bool DebugService::flooding() const {
    const auto& sessions = sessions_.all();
    return std::any_of(sessions.begin(), sessions.end(), [](const auto& s) { return s->floodLeft > 0; });
}

void DebugService::setHeartbeatInterval(std::chrono::milliseconds interval) {
    if (interval.count() <= 0)
        heartbeatTimer_.stop();
    else
        heartbeatTimer_.start(interval);
}

void DebugService::accept(QTcpSocket* socket) {
    Session* session = sessions_.add(socket);
    connect(socket, &QTcpSocket::bytesWritten, this, [this, session] { pump(session); });
    // Nobody reads here: whatever a client sends is thrown away.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
}

void DebugService::onLogLine(const std::string& line) { send(stamped(QByteArray::fromStdString(line))); }

void DebugService::write(Session& session, const QByteArray& bytes) {
    if (!session.socket) return;
    if (session.floodLeft > 0) {
        // Behind a flood: a slow reader must not make this grow without end.
        if (session.held.size() + bytes.size() <= kMaxHeld) session.held += bytes;
        return;
    }
    session.socket->write(bytes);
}

void DebugService::pump(Session* session) {
    QTcpSocket* socket = session->socket;
    if (!socket) return;
    while (session->floodLeft > 0 && socket->bytesToWrite() < kHighWater) {
        const qint64 part = std::min(session->floodLeft, kFloodChunk);
        socket->write(session->pattern.take(part));
        session->floodLeft -= part;
    }
    if (session->floodLeft == 0 && !session->held.isEmpty()) {
        socket->write(session->held);
        session->held.clear();
    }
}

void DebugService::heartbeat() {
    const auto up =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
    send(stamped("heartbeat " + QByteArray::number(++heartbeats_) + ": up " + QByteArray::number(up.count()) +
                 " s, " + QByteArray::number(connectionCount()) + " debug connection(s)"));
}

}  // namespace devsim
