#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "platform/net/reply_wait.h"
#include "platform/net/socket_errors.h"

namespace platform::net {

// The TCP client socket control the windows are written around: connect, send, read everything
// pending, close, and four events (connected, data arrival, closed by the peer, error). Every event is
// delivered from the event loop of the thread that owns the control, never from inside a call to it.
// Each connection attempt uses a fresh QTcpSocket, so Close() followed at once by Connect() is safe;
// a closed connection finishes sending what was queued in the background.
class TcpClient : public QObject {
    Q_OBJECT
  public:
    // The control's states, numbered as the classic socket control numbers them.
    enum State {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9
    };
    Q_ENUM(State)

    // How long a connection attempt may take before it ends with a "timed out" error.
    static constexpr std::chrono::milliseconds kConnectTimeout{20000};

    explicit TcpClient(QObject* parent = nullptr);
    ~TcpClient() override;

    // Bounds what one data-arrival event can hand over (0: no bound). A window that must stay responsive
    // under a fast sender reads in bounded steps; the rest waits in the system's buffers.
    void setReadBufferSize(qint64 bytes);
    // Direct reads (from the next Connect on): each data-arrival event takes what one read of the system
    // socket gives (at most kDirectReadChunk), without first asking how much is there and without Qt's
    // read buffer in between: one system call per arrival instead of two. For exchanges of one short
    // reply per request, where every call counts. The read buffer size does not apply. A data-arrival
    // handler of such a connection must not run a nested event loop (a message box, a wait): the
    // unbuffered socket underneath announces nothing more until its next read, which comes only from
    // an announcement.
    void setDirectReads(bool direct) { directReads_ = direct; }
    static constexpr qsizetype kDirectReadChunk = 65536;
    // With direct reads, for stop-and-wait exchanges: replies waited for in place (see ReplyWait). The
    // limit applies from the next Connect on; awaitReply() says, from inside a data-arrival event, that
    // what the receiver just sent gets a reply.
    void setReplyWait(std::chrono::microseconds limit) {
        replyWait_.limit = std::max(limit, std::chrono::microseconds(0));
    }
    void awaitReply() { ++replyWait_.due; }
    // With a reply wait, the longest one write of what the system could not take at once may hold the
    // thread (rounded up to the system's clock tick).
    static constexpr std::chrono::milliseconds kBlockedSendLimit{10};

    quint16 LocalPort() const { return localPort_; }
    void setLocalPort(quint16 port) { localPort_ = port; }

    // Starts a connection attempt. In any state but Closed the attempt is refused with an error event.
    void Connect(const QString& host, quint16 port);
    // Queues `data` for sending. Returns false (and fills `error`) when the control is not connected.
    bool SendData(const QByteArray& data, SocketError* error = nullptr);
    // Everything received and not yet read.
    QByteArray GetData();
    // The same, appended to `buffer` without a copy of its own in between; the number of bytes appended.
    qint64 GetData(QByteArray& buffer);
    qint64 BytesReceived() const;
    qint64 BytesToWrite() const;
    void Close();

    State state() const { return state_; }
    QString RemoteHost() const { return remoteHost_; }  // as given to Connect
    QString RemoteHostIP() const;
    quint16 RemotePort() const;
    const SocketError& lastError() const { return lastError_; }

  signals:
    void connected();
    void dataArrival(qint64 bytesTotal);
    void closed();  // the peer closed the connection
    void error(int number, const QString& description);
    void sendComplete();  // everything queued has been handed to the system

  private:
    void onConnected();
    void onReadyRead();
    // The direct read an announcement asked for; true when bytes came. The end of the stream or a
    // failure it finds is reported as the closed or error event.
    bool readAnnounced();
    // Waits up to the reply wait for bytes; true when some came.
    bool receiveReply();
    void waitForRepliesInPlace();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError socketError);
    void onBytesWritten();
    void onConnectTimeout();
    void fail(const SocketError& e);
    void releaseSocket();

    QPointer<QTcpSocket> socket_;
    QTimer connectTimer_;
    State state_ = Closed;
    quint16 localPort_ = 0;
    qint64 readBufferSize_ = 0;
    bool directReads_ = false;
    bool direct_ = false;         // the current connection reads directly
    bool blockingReads_ = false;  // its socket waits for replies in place
    ReplyWait replyWait_;
    QByteArray received_;  // what direct reads took and GetData has not handed over yet
    QString remoteHost_;
    quint16 remotePort_ = 0;
    QString remoteIp_;
    SocketError lastError_;
};

}  // namespace platform::net
