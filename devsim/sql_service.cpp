#include "devsim/sql_service.h"

#include <QTimer>
#include <algorithm>

#include "devsim/simulated_device.h"
#include "devsim/sql_database.h"
#include "devsim/tcp_helpers.h"

namespace devsim {

SqlService::SqlService(SimulatedDevice& device) : device_(device) {
    connect(&server_, &QTcpServer::newConnection, this, &SqlService::onNewConnection);
}

SqlService::~SqlService() {
    closeAllSessions();
}

bool SqlService::listen(const QHostAddress& address, QString* error) {
    if (!database_) {
        auto database = std::make_unique<SqlDatabase>(device_.files().root());
        if (!database->open(error)) return false;
        database_ = std::move(database);
    }
    return listenOn(server_, address, kPort, "SQL", error);
}

void SqlService::stopListening() { server_.close(); }

void SqlService::closeAllSessions() {
    for (auto& session : sessions_) {
        dropConnection(session->socket, this);
    }
    sessions_.clear();
}

void SqlService::onNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto session = std::make_unique<Session>();
        session->socket = socket;
        session->peer = peerText(*socket);
        Session* raw = session.get();
        sessions_.push_back(std::move(session));
        socket->setParent(this);
        socket->setReadBufferSize(kMaxLine);  // what waits unread stays bounded as well
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { onReadyRead(raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { drop(raw); });
        device_.log().append("sql " + raw->peer + " connected");
    }
}

void SqlService::onReadyRead(Session* session) {
    if (!session->socket) return;
    for (LineSplitter::Piece& piece : session->lines.feed(session->socket->readAll())) {
        if (!piece.overLong) {
            answer(session, piece.line);
            continue;
        }
        device_.log().append("sql " + session->peer + " dropped an over-long line");
        session->socket->write("error: line too long\r\n");
    }
}

void SqlService::answer(Session* session, const QByteArray& line) {
    device_.log().append("sql " + session->peer + " < " + line.toStdString());
    if (faults_.silent.load()) return;
    QByteArray reply;
    if (line.trimmed().isEmpty())
        reply = "error: empty request\r\n";
    else if (line.trimmed().compare("#schema", Qt::CaseInsensitive) == 0)
        reply = database_->schemaAnswer();
    else
        reply = database_->execute(line);
    const int delay = faults_.replyDelayMs.load();
    QPointer<QTcpSocket> socket = session->socket;
    if (delay <= 0) {
        socket->write(reply);
        return;
    }
    QTimer::singleShot(delay, this, [socket, reply] {
        if (socket) socket->write(reply);
    });
}

void SqlService::drop(Session* session) {
    device_.log().append("sql " + session->peer + " closed");
    if (QTcpSocket* socket = session->socket) {
        socket->disconnect(this);
        socket->deleteLater();
    }
    std::erase_if(sessions_, [session](const auto& s) { return s.get() == session; });
}

}  // namespace devsim
