#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <algorithm>
#include <chrono>

#include "platform/net/reply_wait.h"
#include "platform/net/socket_errors.h"

namespace platform::net {

// The UDP socket control: a local port (bound on first use, so that answers arrive there), a remote
// host and port that SendData sends to, and two events: data arrival (once per datagram) and error.
// GetData returns the datagram that the current dataArrival event announced; a datagram nobody reads
// in its event is dropped, so nothing piles up. IPv4 only. Lives on the thread that created it.
class UdpSocket : public QObject {
    Q_OBJECT
  public:
    explicit UdpSocket(QObject* parent = nullptr);
    ~UdpSocket() override;

    quint16 LocalPort() const { return localPort_; }
    void setLocalPort(quint16 port);
    // The local address the port is bound on; any IPv4 address unless set.
    QHostAddress LocalAddress() const { return localAddress_; }
    void setLocalAddress(const QHostAddress& address);

    QString RemoteHost() const { return remoteHost_; }
    void setRemoteHost(const QString& host);
    quint16 RemotePort() const { return remotePort_; }
    void setRemotePort(quint16 port) { remotePort_ = port; }

    // Binds the local port now. False (and `error`) when the port is taken or the address is foreign.
    bool Bind(SocketError* error = nullptr);
    bool isBound() const;
    // Sends `data` as one datagram to the remote host and port, binding first when needed. A failure is
    // reported by the result and `error`, not by an error event.
    bool SendData(const QByteArray& data, SocketError* error = nullptr);
    // The datagram of the current dataArrival event (empty outside one, or once read).
    QByteArray GetData();
    // Sender of the last datagram received.
    QString RemoteHostIP() const { return lastSender_.toString(); }
    // The same as an address, for comparisons that need no text.
    const QHostAddress& RemoteAddress() const { return lastSender_; }
    // Releases the port; the next SendData binds again.
    void Close();

    // For stop-and-wait exchanges: replies waited for in place (see ReplyWait). awaitReply() says, from
    // inside a data-arrival event, that the datagram the receiver just sent gets a reply.
    void setReplyWait(std::chrono::microseconds limit);
    void awaitReply() { ++replyWait_.due; }

    const SocketError& lastError() const { return lastError_; }

  signals:
    void dataArrival(qint64 bytesTotal);
    void error(int number, const QString& description);

  private:
    enum class Received { Datagram, Nothing, Failed };
    void onReadable();
    // Reads one datagram into current_ and lastSender_; `flags` 0 blocks up to the reply wait.
    Received receive(int flags);
    void applyReplyWait();
    bool resolveRemote(QHostAddress* address, SocketError* error);
    bool fail(const SocketError& e, SocketError* error);

    // A blocking socket: only the reply wait blocks (with its time limit); every other call passes
    // MSG_DONTWAIT.
    int fd_ = -1;
    QPointer<QSocketNotifier> notifier_;
    quint16 localPort_ = 0;
    QHostAddress localAddress_{QHostAddress::AnyIPv4};
    QString remoteHost_;
    quint16 remotePort_ = 0;
    QHostAddress resolved_;  // remoteHost_ looked up once
    static constexpr qsizetype kMaxDatagram = 65536;
    QByteArray buffer_;
    QByteArray current_;
    QHostAddress lastSender_;
    quint32 lastSenderIp_ = 0;  // lastSender_ in network order, to skip rebuilding it per datagram
    SocketError lastError_;
    ReplyWait replyWait_;
    bool timedReads_ = false;  // the socket has the reply wait as its read limit
};

}  // namespace platform::net
