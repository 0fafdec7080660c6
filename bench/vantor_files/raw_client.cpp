#include "raw_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace rawclient {

namespace {

struct Socket {
    int fd = -1;
    std::string pending;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
    bool connectTo(const std::string& address) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(4212);
        ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        // Every block and every "ack" leaves at once: the protocol's own limit, nothing held back.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    }
    bool sendAll(const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool sendAll(const std::string& s) { return sendAll(s.data(), s.size()); }
    // Reads what is there (at least one byte) into `pending`.
    bool fill() {
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<size_t>(n));
        return true;
    }
    bool line(std::string* out) {
        for (;;) {
            const size_t crlf = pending.find("\r\n");
            if (crlf != std::string::npos) {
                *out = pending.substr(0, crlf);
                pending.erase(0, crlf + 2);
                return true;
            }
            if (!fill()) return false;
        }
    }
};

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool upload(const std::string& address, const QString& pcPath, const QByteArray& devicePath,
            std::string* error) {
    FILE* file = std::fopen(pcPath.toLocal8Bit().constData(), "rb");
    if (!file) return fail(error, "cannot open source");
    Socket shell, data;
    std::string reply;
    bool ok = shell.connectTo(address) && shell.sendAll("copy " + devicePath.toStdString() + "\r\n") &&
              data.connectTo(address) && data.line(&reply);
    if (ok && reply == "exists") ok = data.sendAll("continue\r\n");
    if (ok && reply.rfind("error", 0) == 0) ok = false;
    ok = ok && data.line(&reply) && reply == "ok";
    std::fseek(file, 0, SEEK_END);
    long long remaining = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    char block[1 + 1024];
    while (ok) {
        const size_t n = static_cast<size_t>(std::min(remaining, 1024LL));
        block[0] = remaining <= 1024 ? '0' : '1';
        ok = std::fread(block + 1, 1, n, file) == n && data.sendAll(block, 1 + n) && data.line(&reply);
        remaining -= 1024;
        if (remaining <= 0 || reply == "done") break;
    }
    std::fclose(file);
    return ok ? true : fail(error, "upload protocol failed");
}

bool download(const std::string& address, const QByteArray& devicePath, const QString& pcPath,
              std::string* error) {
    Socket shell, data;
    std::string reply;
    if (!shell.connectTo(address) || !shell.sendAll("getfile " + devicePath.toStdString() + "\r\n") ||
        !data.connectTo(address) || !data.line(&reply) || reply.rfind("error", 0) == 0)
        return fail(error, "no size line");
    const long long size = std::stoll(reply.substr(reply.find(' ') + 1));
    // As a careful program keeps a file safe: a temporary file beside the destination, on the disk before
    // it is renamed over the destination.
    const std::string path = pcPath.toLocal8Bit().toStdString();
    const std::string temporary = path + ".part";
    const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) return fail(error, "cannot open destination");
    long long received = 0;
    bool ok = true;
    for (;;) {
        if (!data.pending.empty()) {
            ok = ::write(file, data.pending.data(), data.pending.size()) ==
                 static_cast<ssize_t>(data.pending.size());
            received += static_cast<long long>(data.pending.size());
            data.pending.clear();
            if (ok && !data.sendAll("ack\r\n")) ok = false;
        }
        if (received >= size || !ok) break;
        if (!data.fill()) {
            ok = false;
            break;
        }
    }
    ok = ok && ::fdatasync(file) == 0;
    ok = ::close(file) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok ? true : fail(error, "download cut short");
}

}  // namespace rawclient
