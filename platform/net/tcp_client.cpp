#include "platform/net/tcp_client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <QHostAddress>
#include <QMetaMethod>
#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/ui/time_scale.h"

namespace platform::net {

TcpClient::TcpClient(QObject* parent) : QObject(parent) {
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, &TcpClient::onConnectTimeout);
}

TcpClient::~TcpClient() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        delete socket_;
    }
}

void TcpClient::Connect(const QString& host, quint16 port) {
    if (state_ != Closed) {
        // Reported like any other failure: as an event, after the call has returned.
        const SocketError e{sckerr::InvalidOperation, describeSocketError(sckerr::InvalidOperation)};
        lastError_ = e;
        QMetaObject::invokeMethod(
            this, [this, e] { emit error(e.number, e.description); }, Qt::QueuedConnection);
        return;
    }
    releaseSocket();
    remoteHost_ = host;
    remotePort_ = port;
    remoteIp_.clear();
    lastError_ = {};
    auto* socket = new QTcpSocket(this);
    socket->setReadBufferSize(readBufferSize_);
    socket_ = socket;
    connect(socket, &QTcpSocket::connected, this, &TcpClient::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &TcpClient::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &TcpClient::onDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &TcpClient::onError);
    connect(socket, &QTcpSocket::bytesWritten, this, &TcpClient::onBytesWritten);
    state_ = Connecting;
    if (localPort_ != 0 && !socket->bind(QHostAddress::AnyIPv4, localPort_)) {
        const SocketError e = socketErrorFor(socket->error(), socket->errorString());
        QMetaObject::invokeMethod(
            this, [this, e] { fail(e); }, Qt::QueuedConnection);
        return;
    }
    connectTimer_.start(scaled(kConnectTimeout));
    direct_ = directReads_;
    received_.clear();
    socket->connectToHost(host, port,
                          direct_ ? QIODevice::ReadWrite | QIODevice::Unbuffered : QIODevice::ReadWrite);
}

bool TcpClient::SendData(const QByteArray& data, SocketError* error) {
    if (state_ != Connected || !socket_) {
        const SocketError e{sckerr::WrongState, describeSocketError(sckerr::WrongState)};
        lastError_ = e;
        if (error) *error = e;
        return false;
    }
    if (data.isEmpty()) return true;
    // Nothing queued: the bytes go to the system directly. Through the socket's buffer every send turns
    // its write notifier on and off again, and with the GLib event loop each turn wakes the loop once
    // more: two extra passes for every block of a stop-and-wait exchange. What the system does not take
    // at once (or an error) goes the usual way, which queues it and reports errors as events.
    qsizetype sent = 0;
    if (socket_->bytesToWrite() == 0) {
        const ssize_t n = ::send(static_cast<int>(socket_->socketDescriptor()), data.constData(),
                                 static_cast<size_t>(data.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) sent = n;
    }
    if (sent == data.size()) {
        if (isSignalConnected(QMetaMethod::fromSignal(&TcpClient::sendComplete)))
            QMetaObject::invokeMethod(this, &TcpClient::sendComplete, Qt::QueuedConnection);
        return true;
    }
    const QByteArray rest = sent > 0 ? data.mid(sent) : data;
    if (socket_->write(rest) != rest.size()) {
        const SocketError e = socketErrorFor(socket_->error(), socket_->errorString());
        lastError_ = e;
        if (error) *error = e;
        return false;
    }
    // Hand the bytes to the system now rather than at the next event-loop pass: in a stop-and-wait
    // exchange every pass saved is a round trip saved. It never blocks, but on a socket that waits for
    // replies in place it would write on until everything is out: there the write events send the rest.
    if (!blockingReads_) socket_->flush();
    return true;
}

void TcpClient::setReadBufferSize(qint64 bytes) {
    readBufferSize_ = bytes;
    if (socket_) socket_->setReadBufferSize(bytes);
}

QByteArray TcpClient::GetData() {
    if (direct_) return std::exchange(received_, QByteArray());
    return socket_ ? socket_->readAll() : QByteArray();
}

qint64 TcpClient::GetData(QByteArray& buffer) {
    if (direct_) {
        const qint64 got = received_.size();
        if (buffer.isEmpty())
            buffer.swap(received_);  // the caller's memory serves the next read
        else
            buffer.append(received_);
        received_.resize(0);
        return got;
    }
    const qint64 available = socket_ ? socket_->bytesAvailable() : 0;
    if (available <= 0) return 0;
    const qsizetype before = buffer.size();
    buffer.resize(before + static_cast<qsizetype>(available));
    const qint64 got = std::max<qint64>(socket_->read(buffer.data() + before, available), 0);
    buffer.resize(before + static_cast<qsizetype>(got));
    return got;
}

qint64 TcpClient::BytesReceived() const {
    if (direct_) return received_.size();
    return socket_ ? socket_->bytesAvailable() : 0;
}

qint64 TcpClient::BytesToWrite() const { return socket_ ? socket_->bytesToWrite() : 0; }

void TcpClient::Close() {
    connectTimer_.stop();
    releaseSocket();
    state_ = Closed;
}

QString TcpClient::RemoteHostIP() const {
    if (socket_ && !socket_->peerAddress().isNull()) {
        const QHostAddress address = socket_->peerAddress();
        bool isV4 = false;
        const quint32 v4 = address.toIPv4Address(&isV4);
        return isV4 ? QHostAddress(v4).toString() : address.toString();
    }
    return remoteIp_;
}

quint16 TcpClient::RemotePort() const {
    if (socket_ && socket_->peerPort() != 0) return socket_->peerPort();
    return remotePort_;
}

void TcpClient::onConnected() {
    connectTimer_.stop();
    if (direct_ && replyWait_.limit.count() > 0) waitForRepliesInPlace();
    state_ = Connected;
    remoteIp_ = RemoteHostIP();
    emit connected();
}

void TcpClient::onReadyRead() {
    if (!socket_) return;
    if (!direct_) {
        emit dataArrival(socket_->bytesAvailable());
        return;
    }
    const QPointer<TcpClient> self(this);
    if (!readAnnounced()) return;
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        const quint64 dueBefore = replyWait_.due;
        emit dataArrival(received_.size());
        if (!self || !socket_ || state_ != Connected) return;
        if (!replyWait_.waitAgain(dueBefore, slice) || !receiveReply()) return;
    }
}

bool TcpClient::readAnnounced() {
    // One read per event; what it leaves in the system's buffer announces itself with the next event.
    const qsizetype before = received_.size();
    received_.resize(before + kDirectReadChunk);
    const qint64 got = socket_->read(received_.data() + before, kDirectReadChunk);
    received_.resize(before + std::max<qint64>(got, 0));
    if (got >= 0) return got > 0;
    // The end of the stream or a broken connection. Without Qt's buffer the socket reports neither as
    // an event of its own: it is closed already.
    const QPointer<TcpClient> self(this);
    if (!received_.isEmpty()) emit dataArrival(received_.size());
    if (!self || !socket_ || state_ != Connected) return false;
    if (socket_->error() == QAbstractSocket::RemoteHostClosedError) {
        state_ = Closing;
        emit closed();
    } else {
        fail(socketErrorFor(socket_->error(), socket_->errorString()));
    }
    return false;
}

bool TcpClient::receiveReply() {
    // The socket blocks for at most the reply wait (see waitForRepliesInPlace).
    if (!blockingReads_ || !socket_->isValid() || socket_->state() != QAbstractSocket::ConnectedState)
        return false;
    const qsizetype before = received_.size();
    received_.resize(before + kDirectReadChunk);
    const ssize_t got = ::recv(static_cast<int>(socket_->socketDescriptor()), received_.data() + before,
                               static_cast<size_t>(kDirectReadChunk), 0);
    const int readError = errno;
    received_.resize(before + std::max<qsizetype>(got, 0));
    if (got > 0) return true;
    // A failure this read took from the socket is reported here; nothing in time, or the end of the
    // stream (which stays), is for the socket's own events.
    if (got < 0 && readError != EAGAIN && readError != EWOULDBLOCK && readError != EINTR)
        fail(socketErrorForErrno(readError));
    return false;
}

void TcpClient::waitForRepliesInPlace() {
    // A reply is waited for in a blocking read with the reply wait as its limit: one system call, where
    // asking first whether something came would be two. Every other read here follows an announcement
    // (it finds bytes, the end of the stream or an error at once), the control's own sends never block,
    // and each write Qt makes for it waits at most kBlockedSendLimit. The system counts both limits in
    // its clock ticks, rounding up.
    const int fd = static_cast<int>(socket_->socketDescriptor());
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return;
    const timeval receiveLimit = replyWait_.limitAsTimeval();
    const timeval sendLimit = ReplyWait::asTimeval(kBlockedSendLimit);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receiveLimit, sizeof receiveLimit) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit) != 0)
        return;
    blockingReads_ = ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void TcpClient::onDisconnected() {
    if (state_ == Connected) {
        state_ = Closing;
        emit closed();
    }
}

void TcpClient::onError(QAbstractSocket::SocketError socketError) {
    // A peer that closes is not an error: disconnected() reports it as the close event.
    if (socketError == QAbstractSocket::RemoteHostClosedError && state_ == Connected) return;
    if (state_ == Closed || state_ == Error) return;
    fail(socketErrorFor(socketError, socket_ ? socket_->errorString() : QString()));
}

void TcpClient::onBytesWritten() {
    if (socket_ && socket_->bytesToWrite() == 0) emit sendComplete();
}

void TcpClient::onConnectTimeout() {
    if (state_ == Connecting && socket_) {
        socket_->disconnect(this);
        socket_->abort();
        fail({sckerr::TimedOut, describeSocketError(sckerr::TimedOut)});
    }
}

void TcpClient::fail(const SocketError& e) {
    connectTimer_.stop();
    state_ = Error;
    lastError_ = e;
    emit error(e.number, e.description);
}

void TcpClient::releaseSocket() {
    received_.clear();
    blockingReads_ = false;
    if (!socket_) return;
    QTcpSocket* old = socket_;
    socket_ = nullptr;
    old->disconnect(this);
    if (old->state() == QAbstractSocket::ConnectedState && old->bytesToWrite() > 0) {
        // Let what was queued go out, then free the socket; a peer that never reads can't keep it.
        connect(old, &QTcpSocket::disconnected, old, &QObject::deleteLater);
        QTimer::singleShot(5000, old, [old] {
            old->abort();
            old->deleteLater();
        });
        old->disconnectFromHost();
    } else {
        old->abort();
        old->deleteLater();
    }
}

}  // namespace platform::net
