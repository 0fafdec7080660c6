#include "bench/pavane_download/stop_and_wait_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <cstring>

namespace {

sockaddr_in endpoint(const QString& address) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(4242);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr);
    return a;
}

}  // namespace

bool sendStopAndWait(const QString& path, const QString& device, const QString& local) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in here = endpoint(local);
    sockaddr_in there = endpoint(device);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&here), sizeof here) != 0) return false;
    timeval wait{1, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const qint64 packets = (file.size() + 1469) / 1470;
    char datagram[1472];
    bool ok = true;
    for (qint64 n = 1; n <= packets && ok;) {
        std::memset(datagram, 0, sizeof datagram);
        datagram[0] = static_cast<char>(n & 0xFF);
        datagram[1] = static_cast<char>(n >> 8);
        // Packets go in order and a packet is only ever sent again as it stands: the file is read straight
        // through, no seek per packet.
        file.read(datagram + 2, 1470);
        for (int attempt = 0;; ++attempt) {
            if (attempt == 20) {
                ok = false;
                break;
            }
            ::sendto(fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&there), sizeof there);
            unsigned char ack[4];
            const ssize_t got = ::recv(fd, ack, sizeof ack, 0);
            if (got == 2 && (ack[0] | (ack[1] << 8)) == n) break;
        }
        ++n;
    }
    ::close(fd);
    return ok;
}
