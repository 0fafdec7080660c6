#include "devsim/shell_service.h"

#include <algorithm>

#include "devsim/simulated_device.h"
#include "devsim/tcp_helpers.h"

namespace devsim {

// ---- ShellSession -------------------------------------------------------------------------------

ShellSession::ShellSession(QTcpSocket* socket, ShellService& service)
    : QObject(&service), service_(service), socket_(socket) {
    socket->setParent(this);
    // What waits unread is bounded too, not only the line: the session reads it all at each event.
    socket->setReadBufferSize(kReadBuffer);
    peerAddress_ = socket->peerAddress();
    peerPort_ = socket->peerPort();
    connect(socket, &QTcpSocket::readyRead, this, &ShellSession::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this] { close(); });
}

ShellSession::~ShellSession() = default;

QString ShellSession::peer() const {
    return QStringLiteral("%1:%2").arg(QHostAddress(peerAddress_.toIPv4Address()).toString()).arg(peerPort_);
}

void ShellSession::sendMessage(const QByteArray& text) { send(text + QByteArray(1, '\0')); }

void ShellSession::send(const QByteArray& bytes) {
    if (!socket_) return;
    const long long limit = service_.faults().closeAfterBytes.load();
    if (limit >= 0 && bytesSent_ + bytes.size() >= limit) {
        const qsizetype part = static_cast<qsizetype>(std::max(0LL, limit - bytesSent_));
        socket_->write(bytes.left(part));
        bytesSent_ += part;
        socket_->flush();
        service_.device().log().append("shell " + peer().toStdString() + " fault: closed after " +
                                       std::to_string(limit) + " bytes");
        close();
        return;
    }
    bytesSent_ += bytes.size();
    socket_->write(bytes);
}

void ShellSession::close() {
    if (socket_) {
        QTcpSocket* socket = socket_;
        socket_ = nullptr;
        dropConnection(socket, this);
    }
    service_.sessionClosed(this);
}

void ShellSession::takeLines(std::function<void(const QByteArray&)> handler) {
    lineTaker_ = std::move(handler);
}

void ShellSession::releaseLines() { lineTaker_ = nullptr; }

QTcpSocket* ShellSession::detachSocket() {
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    if (socket) {
        socket->disconnect(this);
        socket->setParent(nullptr);
        socket->setReadBufferSize(0);  // a transfer reads its data at its own pace
    }
    service_.sessionClosed(this);
    return socket;
}

void ShellSession::onReadyRead() {
    if (!socket_) return;
    const QByteArray data = socket_->readAll();
    if (data.isEmpty()) return;
    receivedAnything_ = true;
    QPointer<ShellSession> alive(this);
    for (LineSplitter::Piece& piece : lines_.feed(data)) {
        if (piece.overLong) {
            service_.device().log().append("shell " + peer().toStdString() + " dropped an over-long line");
            sendMessage("error: line too long\r\n");
        } else {
            handleLine(piece.line);
        }
        if (!alive || !socket_) return;
    }
}

void ShellSession::handleLine(const QByteArray& line) {
    if (lineTaker_) {
        auto taker = lineTaker_;
        taker(line);
        return;
    }
    service_.dispatch(*this, line);
}

// ---- ShellService -------------------------------------------------------------------------------

ShellService::ShellService(SimulatedDevice& device) : device_(device) {}

ShellService::~ShellService() {
    for (DataClaim& claim : claims_) delete claim.timer;
}

bool ShellService::listen(const QHostAddress& address, QString* error) {
    address_ = address;
    return listener_.listen(address, error);
}

void ShellService::stopListening() { listener_.close(); }

void ShellService::closeAllSessions() {
    const std::vector<ShellSession*> sessions = sessions_;
    for (ShellSession* session : sessions) session->close();
}

void ShellService::addCommand(const QByteArray& word, const QByteArray& help, ShellCommand handler) {
    commands_[word.toLower()] = Command{help, std::move(handler)};
}

QByteArray ShellService::helpText() const {
    QByteArray text = "Commands:\r\n";
    for (const auto& [word, command] : commands_) text += "  " + command.help + "\r\n";
    return text;
}

void ShellService::accept(QTcpSocket* socket) {
    auto* session = new ShellSession(socket, *this);
    device_.log().append("shell " + session->peer().toStdString() + " connected");
    if (!giveToClaim(session)) sessions_.push_back(session);
}

bool ShellService::giveToClaim(ShellSession* session) {
    for (auto it = claims_.begin(); it != claims_.end(); ++it) {
        if (it->peer.toIPv4Address() != session->peerAddress().toIPv4Address()) continue;
        DataClaim claim = std::move(*it);
        claims_.erase(it);
        delete claim.timer;
        device_.log().append("shell " + session->peer().toStdString() + " is a data connection");
        QTcpSocket* socket = session->detachSocket();
        session->deleteLater();
        claim.take(socket);
        return true;
    }
    return false;
}

void ShellService::claimDataConnection(ShellSession& requester, std::chrono::milliseconds limit,
                                       std::function<void(QTcpSocket*)> take) {
    // The PC may have connected before its command arrived: take its newest idle connection then.
    for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it) {
        ShellSession* candidate = *it;
        if (candidate == &requester || candidate->hasReceivedAnything()) continue;
        if (candidate->peerAddress().toIPv4Address() != requester.peerAddress().toIPv4Address()) continue;
        device_.log().append("shell " + candidate->peer().toStdString() + " is a data connection");
        QTcpSocket* socket = candidate->detachSocket();
        candidate->deleteLater();
        take(socket);
        return;
    }
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    claims_.push_back(DataClaim{requester.peerAddress(), std::move(take), timer, &requester});
    connect(timer, &QTimer::timeout, this, [this, timer] {
        auto it = std::find_if(claims_.begin(), claims_.end(),
                               [timer](const DataClaim& c) { return c.timer == timer; });
        if (it == claims_.end()) return;
        DataClaim claim = std::move(*it);
        claims_.erase(it);
        timer->deleteLater();
        device_.log().append("shell no data connection arrived");
        claim.take(nullptr);
    });
    timer->start(limit);
}

void ShellService::dispatch(ShellSession& session, const QByteArray& line) {
    device_.log().append("shell " + session.peer().toStdString() + " < " + line.toStdString());
    if (faults_.silent.load()) return;
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty()) return;
    const qsizetype blank = trimmed.indexOf(' ');
    const QByteArray word = (blank < 0 ? trimmed : trimmed.left(blank)).toLower();
    const QByteArray arguments = blank < 0 ? QByteArray() : trimmed.mid(blank + 1).trimmed();
    auto run = [this, word, arguments, session = QPointer<ShellSession>(&session)] {
        if (!session) return;
        const auto it = commands_.find(word);
        if (it == commands_.end()) {
            session->sendMessage("error: unknown command '" + word + "'\r\n");
            return;
        }
        it->second.handler(*session, arguments);
    };
    const int delay = faults_.replyDelayMs.load();
    if (delay > 0)
        QTimer::singleShot(delay, this, run);
    else
        run();
}

void ShellService::sessionClosed(ShellSession* session) {
    const auto it = std::find(sessions_.begin(), sessions_.end(), session);
    if (it == sessions_.end()) return;
    sessions_.erase(it);
    device_.log().append("shell " + session->peer().toStdString() + " closed");
    session->deleteLater();
}

}  // namespace devsim
