#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace testsupport {

// A fake image loader for exact wire cases: a UDP socket on one address and port, served by a thread
// of its own. Every datagram is recorded and handed to the responder (on the peer's thread), whose
// answer, if any, goes back to the sender. Waits keep the test thread's event loop running.
class UdpPeer {
  public:
    // index: 0 for the first datagram received.
    using Responder = std::function<std::optional<QByteArray>(int index, const QByteArray& datagram)>;

    UdpPeer(const QString& address, quint16 port, Responder responder);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool bound() const { return fd_ >= 0; }
    std::vector<QByteArray> received() const;
    // The packet numbers (first two bytes, little-endian) of the datagrams received, in order.
    std::vector<int> packetNumbers() const;

    // Answers every datagram with its own packet number.
    static std::optional<QByteArray> acknowledge(const QByteArray& datagram);
    static QByteArray number(int n);

  private:
    void serve();

    int fd_ = -1;
    int wake_[2] = {-1, -1};
    Responder responder_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<QByteArray> received_;
};

}  // namespace testsupport
