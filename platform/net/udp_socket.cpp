#include "platform/net/udp_socket.h"

#include <QHostInfo>
#include <QNetworkProxy>
#include <utility>

namespace platform::net {

UdpSocket::UdpSocket(QObject* parent) : QObject(parent) {}

UdpSocket::~UdpSocket() { Close(); }

void UdpSocket::setLocalPort(quint16 port) {
    if (port == localPort_) return;
    Close();
    localPort_ = port;
}

void UdpSocket::setLocalAddress(const QHostAddress& address) {
    if (address == localAddress_) return;
    Close();
    localAddress_ = address;
}

void UdpSocket::setRemoteHost(const QString& host) {
    if (host != remoteHost_) resolved_.clear();
    remoteHost_ = host;
}

bool UdpSocket::isBound() const { return socket_ && socket_->state() == QAbstractSocket::BoundState; }

bool UdpSocket::Bind(SocketError* error) {
    if (isBound()) return true;
    Close();
    auto* socket = new QUdpSocket(this);
    // Devices sit on the local network: never through a proxy.
    socket->setProxy(QNetworkProxy::NoProxy);
    // No address sharing: a port another program holds must fail here, not steal its datagrams.
    if (!socket->bind(localAddress_, localPort_, QAbstractSocket::DontShareAddress)) {
        const SocketError e = socketErrorFor(socket->error(), socket->errorString());
        delete socket;
        return fail(e, error);
    }
    socket_ = socket;
    connect(socket, &QUdpSocket::readyRead, this, &UdpSocket::onReadyRead);
    connect(socket, &QUdpSocket::errorOccurred, this, &UdpSocket::onError);
    return true;
}

bool UdpSocket::SendData(const QByteArray& data, SocketError* error) {
    if (!Bind(error)) return false;
    QHostAddress address;
    if (!resolveRemote(&address, error)) return false;
    sending_ = true;
    const qint64 written = socket_->writeDatagram(data, address, remotePort_);
    sending_ = false;
    if (written != data.size()) return fail(socketErrorFor(socket_->error(), socket_->errorString()), error);
    return true;
}

QByteArray UdpSocket::GetData() { return std::exchange(current_, QByteArray()); }

void UdpSocket::Close() {
    if (!socket_) return;
    QUdpSocket* old = socket_;
    socket_ = nullptr;
    old->disconnect(this);
    old->close();
    old->deleteLater();
    current_.clear();
}

bool UdpSocket::resolveRemote(QHostAddress* address, SocketError* error) {
    if (resolved_.isNull()) {
        QHostAddress literal;
        if (literal.setAddress(remoteHost_)) {
            resolved_ = literal;
        } else if (!remoteHost_.isEmpty()) {
            // Names are looked up once per remote host; the lookup blocks like the classic control's.
            const QHostInfo info = QHostInfo::fromName(remoteHost_);
            for (const QHostAddress& candidate : info.addresses()) {
                if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
                    resolved_ = candidate;
                    break;
                }
            }
        }
    }
    if (resolved_.isNull()) return fail({sckerr::HostNotFound, describeSocketError(sckerr::HostNotFound)}, error);
    *address = resolved_;
    return true;
}

bool UdpSocket::fail(const SocketError& e, SocketError* error) {
    lastError_ = e;
    if (error) *error = e;
    return false;
}

void UdpSocket::onReadyRead() {
    // One datagram per event, read without asking its size first: the buffer holds the largest one, and
    // the socket announces the next datagram with another event.
    if (!socket_) return;
    if (buffer_.isEmpty()) buffer_.resize(kMaxDatagram);
    const qint64 got = socket_->readDatagram(buffer_.data(), buffer_.size(), &lastSender_);
    if (got < 0) return;
    current_ = QByteArray(buffer_.constData(), got);
    emit dataArrival(current_.size());
    current_.clear();
}

void UdpSocket::onError(QAbstractSocket::SocketError socketError) {
    // Failures of a send are the send's result; only the others are events.
    if (sending_) return;
    const SocketError e = socketErrorFor(socketError, socket_ ? socket_->errorString() : QString());
    lastError_ = e;
    emit error(e.number, e.description);
}

}  // namespace platform::net
