#include "devsim/tcp_helpers.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace devsim {

bool listenOn(QTcpServer& server, const QHostAddress& address, quint16 port, const char* service, QString* error) {
    if (server.isListening()) return true;
    if (server.listen(address, port)) return true;
    if (error) *error = QStringLiteral("%1 port %2: %3").arg(QLatin1String(service)).arg(port).arg(server.errorString());
    return false;
}

std::string peerText(const QTcpSocket& socket) {
    return QStringLiteral("%1:%2")
        .arg(QHostAddress(socket.peerAddress().toIPv4Address()).toString())
        .arg(socket.peerPort())
        .toStdString();
}

void dropConnection(QTcpSocket* socket, QObject* receiver) {
    if (!socket) return;
    socket->disconnect(receiver);
    socket->disconnectFromHost();
    socket->deleteLater();
}

}  // namespace devsim
