#pragma once

#include <QHostAddress>
#include <QString>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

namespace devsim {

// The listening side every TCP service of the device shares: one fixed port on the device's address,
// each connection handed on as it is accepted. Lives on the device thread, in the service it serves.
class TcpListener {
  public:
    using Accept = std::function<void(QTcpSocket*)>;

    // `service` names the port in errors ("SQL port 5050: …"); `accept` gets every new connection, on
    // the thread of `owner`.
    TcpListener(QObject* owner, quint16 port, const char* service, Accept accept);

    // Listens unless already listening; on failure `error` names the service and why.
    bool listen(const QHostAddress& address, QString* error);
    // Accepts nothing more; connections already made stay.
    void close() { server_.close(); }

  private:
    QTcpServer server_;
    quint16 port_;
    const char* service_;
};

}  // namespace devsim
