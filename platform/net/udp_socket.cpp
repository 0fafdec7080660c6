#include "platform/net/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostInfo>
#include <cerrno>
#include <utility>

namespace platform::net {

namespace {

sockaddr_in ipv4Endpoint(const QHostAddress& address, quint16 port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    endpoint.sin_addr.s_addr = htonl(address.toIPv4Address());
    return endpoint;
}

bool isIpv4(const QHostAddress& address) { return address.protocol() == QAbstractSocket::IPv4Protocol; }

}  // namespace

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

void UdpSocket::setReplyWait(std::chrono::microseconds limit) {
    replyWait_.limit = std::max(limit, std::chrono::microseconds(0));
    applyReplyWait();
}

void UdpSocket::applyReplyWait() {
    if (fd_ < 0) return;
    // A read without MSG_DONTWAIT waits only once the socket knows its limit.
    const timeval limit = replyWait_.limitAsTimeval();
    timedReads_ =
        replyWait_.limit.count() > 0 && ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

bool UdpSocket::isBound() const { return fd_ >= 0; }

bool UdpSocket::Bind(SocketError* error) {
    if (isBound()) return true;
    Close();
    // Any address (or none given) is any IPv4 address: the socket is an IPv4 one.
    const bool anyAddress = localAddress_.isNull() || localAddress_ == QHostAddress::Any ||
                            localAddress_ == QHostAddress::AnyIPv4;
    if (!anyAddress && !isIpv4(localAddress_))
        return fail({sckerr::AddressNotAvailable, describeSocketError(sckerr::AddressNotAvailable)}, error);
    // No SO_REUSEADDR: a port another program holds must fail here, not share its datagrams.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail(socketErrorForErrno(errno), error);
    // As any UDP socket of the platform's socket classes: a broadcast address is a valid destination.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const sockaddr_in local =
        ipv4Endpoint(anyAddress ? QHostAddress(QHostAddress::AnyIPv4) : localAddress_, localPort_);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int bindError = errno;
        ::close(fd);
        return fail(socketErrorForErrno(bindError), error);
    }
    fd_ = fd;
    applyReplyWait();
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UdpSocket::onReadable);
    return true;
}

bool UdpSocket::SendData(const QByteArray& data, SocketError* error) {
    if (!Bind(error)) return false;
    QHostAddress address;
    if (!resolveRemote(&address, error)) return false;
    const sockaddr_in remote = ipv4Endpoint(address, remotePort_);
    const ssize_t sent =
        ::sendto(fd_, data.constData(), static_cast<size_t>(data.size()), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    if (sent != data.size()) {
        return fail(sent < 0
                        ? socketErrorForErrno(errno)
                        : SocketError{sckerr::MessageTooLarge, describeSocketError(sckerr::MessageTooLarge)},
                    error);
    }
    return true;
}

QByteArray UdpSocket::GetData() { return std::exchange(current_, QByteArray()); }

void UdpSocket::Close() {
    if (fd_ < 0) return;
    // The notifier may be the one whose event is under way: it goes when the event is over.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->disconnect(this);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    ::close(std::exchange(fd_, -1));
    timedReads_ = false;
    current_.clear();
}

bool UdpSocket::resolveRemote(QHostAddress* address, SocketError* error) {
    if (resolved_.isNull()) {
        QHostAddress literal;
        if (literal.setAddress(remoteHost_)) {
            if (isIpv4(literal)) resolved_ = literal;
        } else if (!remoteHost_.isEmpty()) {
            // Names are looked up once per remote host; the lookup blocks like the classic control's.
            const QHostInfo info = QHostInfo::fromName(remoteHost_);
            for (const QHostAddress& candidate : info.addresses()) {
                if (isIpv4(candidate)) {
                    resolved_ = candidate;
                    break;
                }
            }
        }
    }
    if (resolved_.isNull())
        return fail({sckerr::HostNotFound, describeSocketError(sckerr::HostNotFound)}, error);
    *address = resolved_;
    return true;
}

bool UdpSocket::fail(const SocketError& e, SocketError* error) {
    lastError_ = e;
    if (error) *error = e;
    return false;
}

UdpSocket::Received UdpSocket::receive(int flags) {
    // One datagram per call, read without asking its size first: the buffer holds the largest one.
    if (buffer_.isEmpty()) buffer_.resize(kMaxDatagram);
    sockaddr_in sender{};
    socklen_t senderSize = sizeof sender;
    const ssize_t got = ::recvfrom(fd_, buffer_.data(), static_cast<size_t>(buffer_.size()), flags,
                                   reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (got < 0) {
        const int readError = errno;
        if (readError == EAGAIN || readError == EWOULDBLOCK || readError == EINTR) return Received::Nothing;
        lastError_ = socketErrorForErrno(readError);
        return Received::Failed;
    }
    if (sender.sin_family == AF_INET && (lastSender_.isNull() || sender.sin_addr.s_addr != lastSenderIp_)) {
        lastSenderIp_ = sender.sin_addr.s_addr;
        lastSender_ = QHostAddress(ntohl(lastSenderIp_));
    }
    current_ = QByteArray(buffer_.constData(), got);
    return Received::Datagram;
}

void UdpSocket::onReadable() {
    const QPointer<UdpSocket> self(this);
    QElapsedTimer slice;
    slice.start();
    int flags = MSG_DONTWAIT;  // the notifier said a datagram is there
    while (fd_ >= 0) {
        const Received received = receive(flags);
        if (received == Received::Nothing) return;
        if (received == Received::Failed) {
            emit error(lastError_.number, lastError_.description);
            return;
        }
        const quint64 dueBefore = replyWait_.due;
        emit dataArrival(current_.size());
        if (!self) return;
        current_.clear();
        if (!timedReads_ || !replyWait_.waitAgain(dueBefore, slice)) return;
        flags = 0;  // blocks for at most the reply wait (SO_RCVTIMEO)
    }
}

}  // namespace platform::net
