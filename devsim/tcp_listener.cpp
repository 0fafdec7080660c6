#include "devsim/tcp_listener.h"

#include <QTcpSocket>
#include <utility>

namespace devsim {

TcpListener::TcpListener(QObject* owner, quint16 port, const char* service, Accept accept)
    : port_(port), service_(service) {
    QObject::connect(&server_, &QTcpServer::newConnection, owner, [this, accept = std::move(accept)] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) accept(socket);
    });
}

bool TcpListener::listen(const QHostAddress& address, QString* error) {
    if (server_.isListening()) return true;
    if (server_.listen(address, port_)) return true;
    if (error)
        *error = QStringLiteral("%1 port %2: %3")
                     .arg(QLatin1String(service_))
                     .arg(port_)
                     .arg(server_.errorString());
    return false;
}

}  // namespace devsim
