#include "platform/net/blocking_tcp_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::net {

BlockingTcpClient::BlockingTcpClient() { wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

BlockingTcpClient::~BlockingTcpClient() {
    close();
    if (wake_ >= 0) ::close(wake_);
}

bool BlockingTcpClient::create(const std::string& localAddress, int* error) {
    close();
    if (wake_ < 0) {
        *error = EMFILE;
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!localAddress.empty() && ::inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr) != 1) {
        ::close(fd);
        *error = EINVAL;
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        *error = errno;
        ::close(fd);
        return false;
    }
    // Request and reply lines are small: waiting to coalesce them only adds latency.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(mutex_);
    fd_ = fd;
    return true;
}

bool BlockingTcpClient::resolve(const std::string& hostName, std::vector<std::string>* addresses,
                                int* error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(hostName.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        *error = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
        return false;
    }
    for (addrinfo* a = list; a; a = a->ai_next) {
        char text[INET_ADDRSTRLEN];
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) addresses->push_back(text);
    }
    ::freeaddrinfo(list);
    return true;
}

bool BlockingTcpClient::waitFor(short events, std::chrono::milliseconds limit, int* error) {
    pollfd fds[2] = {{fd_, events, 0}, {wake_, POLLIN, 0}};
    for (;;) {
        const int rc = ::poll(fds, 2, static_cast<int>(limit.count()));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) {
            *error = errno;
            return false;
        }
        if (rc == 0) {
            *error = ETIMEDOUT;
            return false;
        }
        if (fds[1].revents) {
            *error = ECONNABORTED;
            return false;
        }
        return true;
    }
}

bool BlockingTcpClient::connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds limit,
                                int* error) {
    if (fd_ < 0 || aborted()) {
        *error = fd_ < 0 ? EBADF : ECONNABORTED;
        return false;
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    // A dotted address is connected as it is: only a name goes to the resolver, whose lookup no abort
    // can cut short.
    if (::inet_pton(AF_INET, host.c_str(), &remote.sin_addr) != 1) {
        std::vector<std::string> addresses;
        if (!resolve(host, &addresses, error)) return false;
        if (addresses.empty()) {
            *error = EHOSTUNREACH;
            return false;
        }
        ::inet_pton(AF_INET, addresses.front().c_str(), &remote.sin_addr);
    }
    // Non-blocking only for the connect itself, so that its wait has a limit and can be aborted.
    const int flags = ::fcntl(fd_, F_GETFL);
    ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    bool ok = ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    if (!ok && errno == EINPROGRESS && waitFor(POLLOUT, limit, error)) {
        int soError = 0;
        socklen_t size = sizeof soError;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &size);
        ok = soError == 0;
        if (!ok) *error = soError;
    } else if (!ok && errno != EINPROGRESS) {
        *error = errno;
    }
    ::fcntl(fd_, F_SETFL, flags);
    return ok;
}

bool BlockingTcpClient::sendAll(const char* data, std::size_t length, int* error) {
    if (fd_ < 0) {
        *error = EBADF;
        return false;
    }
    while (length > 0) {
        const ssize_t sent = ::send(fd_, data, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            *error = errno;
            return false;
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

long BlockingTcpClient::receive(char* buffer, std::size_t length, std::chrono::milliseconds limit,
                                int* error) {
    if (fd_ < 0) {
        *error = EBADF;
        return -1;
    }
    if (!waitFor(POLLIN, limit, error)) return -1;
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, length, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) *error = errno;
        if (got == 0 && aborted()) {
            *error = ECONNABORTED;
            return -1;
        }
        return got;
    }
}

void BlockingTcpClient::abort() {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto rc = ::write(wake_, &one, sizeof one);
    }
}

bool BlockingTcpClient::aborted() const {
    std::lock_guard lock(mutex_);
    return aborted_;
}

void BlockingTcpClient::close() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace platform::net
