#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace platform::net {

// One blocking IPv4 stream socket for a worker thread. The owning thread creates, connects, sends,
// receives and closes; any other thread may call abort(), which wakes a connect or receive in progress
// and makes every later call on this socket fail, so that nobody ever waits for a silent peer.
// Errors are errno values.
class BlockingTcpClient {
  public:
    static constexpr std::chrono::milliseconds kNoLimit{-1};

    BlockingTcpClient();
    ~BlockingTcpClient();
    BlockingTcpClient(const BlockingTcpClient&) = delete;
    BlockingTcpClient& operator=(const BlockingTcpClient&) = delete;

    // Creates the socket and binds it to `localAddress` (dotted IPv4; empty: any) with any port.
    bool create(const std::string& localAddress, int* error);
    // Resolves `host` (a name or a dotted address) and connects, waiting at most `limit`.
    bool connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds limit, int* error);
    bool sendAll(const char* data, std::size_t length, int* error);
    // Bytes received (> 0), 0 when the peer closed, -1 on failure, on abort (ECONNABORTED) or when
    // nothing came within `limit` (ETIMEDOUT).
    long receive(char* buffer, std::size_t length, std::chrono::milliseconds limit, int* error);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Thread-safe; see the class comment.
    void abort();
    bool aborted() const;

    // The IPv4 addresses `hostName` resolves to, in dotted form, in the resolver's order.
    static bool resolve(const std::string& hostName, std::vector<std::string>* addresses, int* error);

  private:
    bool waitFor(short events, std::chrono::milliseconds limit, int* error);

    int fd_ = -1;
    int wake_ = -1;  // eventfd signalled by abort()
    mutable std::mutex mutex_;
    bool aborted_ = false;
};

}  // namespace platform::net
