#include "bench/vantor_wait/bench_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <vector>

namespace vantorbench {

BenchPeer::BenchPeer(const QString& address, QByteArray payload) : payload_(std::move(payload)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(4212);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &addr.sin_addr);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

BenchPeer::~BenchPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void BenchPeer::serve() {
    std::vector<int> silent;
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        if (payload_.isEmpty()) {
            silent.push_back(fd);
            continue;
        }
        const char* data = payload_.constData();
        qsizetype left = payload_.size();
        while (left > 0 && !stop_) {
            const ssize_t n =
                ::send(fd, data, static_cast<size_t>(std::min<qsizetype>(left, 65536)), MSG_NOSIGNAL);
            if (n <= 0) break;
            data += n;
            left -= n;
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
    for (int fd : silent) ::close(fd);
}

QString benchAddress(int n) {
    const unsigned pid = static_cast<unsigned>(::getpid());
    return QStringLiteral("127.%1.%2.%3").arg(200 + n).arg((pid >> 8) & 0xFF).arg(1 + pid % 254);
}

void usePrivateFolders() {
    static QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/program");
    QDir().mkpath(dir.path() + "/config");
    qputenv("QUILLON_PROGRAM_DIR", (dir.path() + "/program").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toLocal8Bit());
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace vantorbench
