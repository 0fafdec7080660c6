#include "devsim/sql_service.h"

#include <QTimer>
#include <algorithm>

#include "devsim/simulated_device.h"
#include "devsim/sql_database.h"
#include "devsim/tcp_helpers.h"

namespace devsim {

SqlService::SqlService(SimulatedDevice& device) : device_(device), sessions_(*this, device.log(), "sql") {}

SqlService::~SqlService() { closeAllSessions(); }

bool SqlService::listen(const QHostAddress& address, QString* error) {
    if (!database_) {
        auto database = std::make_unique<SqlDatabase>(device_.files().root());
        if (!database->open(error)) return false;
        database_ = std::move(database);
    }
    return listener_.listen(address, error);
}

void SqlService::stopListening() { listener_.close(); }

void SqlService::closeAllSessions() { sessions_.closeAll(); }

void SqlService::accept(QTcpSocket* socket) {
    Session* session = sessions_.add(socket);
    socket->setReadBufferSize(kMaxLine);  // what waits unread stays bounded as well
    connect(socket, &QTcpSocket::readyRead, this, [this, session] { onReadyRead(session); });
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

}  // namespace devsim
