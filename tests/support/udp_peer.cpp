#include "tests/support/udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

UdpPeer::UdpPeer(const QString& address, quint16 port, Responder responder)
    : responder_(std::move(responder)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &local.sin_addr);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::pipe(wake_) != 0) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

UdpPeer::~UdpPeer() {
    if (thread_.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(wake_[1], &byte, 1);
        thread_.join();
    }
    for (int fd : {fd_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

void UdpPeer::serve() {
    char buffer[65536];
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        sockaddr_in sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t got =
            ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (got < 0) continue;
        const QByteArray datagram(buffer, static_cast<qsizetype>(got));
        int index = 0;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(received_.size());
            received_.push_back(datagram);
        }
        if (const auto reply = responder_(index, datagram))
            ::sendto(fd_, reply->constData(), static_cast<size_t>(reply->size()), 0,
                     reinterpret_cast<sockaddr*>(&sender), senderLength);
    }
}

std::vector<QByteArray> UdpPeer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<int> UdpPeer::packetNumbers() const {
    std::vector<int> numbers;
    for (const QByteArray& d : received())
        numbers.push_back(
            d.size() < 2 ? -1 : static_cast<unsigned char>(d[0]) | (static_cast<unsigned char>(d[1]) << 8));
    return numbers;
}

QByteArray UdpPeer::number(int n) {
    QByteArray bytes(2, '\0');
    bytes[0] = static_cast<char>(n & 0xFF);
    bytes[1] = static_cast<char>((n >> 8) & 0xFF);
    return bytes;
}

std::optional<QByteArray> UdpPeer::acknowledge(const QByteArray& datagram) { return datagram.left(2); }

}  // namespace testsupport
