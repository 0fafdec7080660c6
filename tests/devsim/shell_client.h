#pragma once

#include <QByteArray>
#include <QTcpSocket>

namespace testsupport {

// A blocking shell client for device tests: sends command lines, reads NUL-terminated messages.
class ShellClient {
  public:
    bool connectTo(const QString& address, quint16 port = 4212) {
        socket_.connectToHost(address, port);
        return socket_.waitForConnected(5000);
    }
    void sendLine(const QByteArray& line) {
        socket_.write(line + "\r\n");
        socket_.waitForBytesWritten(5000);
    }
    // The next message without its NUL; empty (and timedOut set) when none came in time.
    QByteArray readMessage(int timeoutMs = 5000) {
        timedOut = false;
        for (;;) {
            const qsizetype nul = buffer_.indexOf('\0');
            if (nul >= 0) {
                const QByteArray message = buffer_.left(nul);
                buffer_.remove(0, nul + 1);
                return message;
            }
            if (!socket_.waitForReadyRead(timeoutMs)) {
                timedOut = true;
                return {};
            }
            buffer_ += socket_.readAll();
        }
    }
    bool waitForClose(int timeoutMs = 5000) {
        if (socket_.state() == QAbstractSocket::UnconnectedState) return true;
        return socket_.waitForDisconnected(timeoutMs) || socket_.state() == QAbstractSocket::UnconnectedState;
    }
    QTcpSocket& socket() { return socket_; }
    bool timedOut = false;

  private:
    QTcpSocket socket_;
    QByteArray buffer_;
};

}  // namespace testsupport
