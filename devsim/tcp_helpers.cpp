#include "devsim/tcp_helpers.h"

#include <QTcpSocket>

namespace devsim {

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
