#pragma once

#include <QHostAddress>
#include <QString>
#include <string>

class QObject;
class QTcpSocket;

namespace devsim {

// Small pieces every TCP service of the device shares.

// "127.0.0.1:40000" for the log.
std::string peerText(const QTcpSocket& socket);

// Closes a client connection the service is done with: no more events reach `receiver`, the socket
// goes once closed.
void dropConnection(QTcpSocket* socket, QObject* receiver);

}  // namespace devsim
