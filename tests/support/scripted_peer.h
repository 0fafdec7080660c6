#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

// A fake device for exact wire-level cases: listens on one address and port, accepts any number of
// connections on a thread of its own and records what each sends. The test sends, waits and closes from
// its own thread; the waits keep the test thread's event loop running, so windows under test work
// meanwhile.
class ScriptedPeer {
  public:
    ScriptedPeer(const QString& address, quint16 port);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    bool listening() const { return listenFd_ >= 0; }
    // Stops accepting; the address then refuses connections.
    void stopListening();

    int connectionCount() const;
    bool waitForConnections(int count, std::chrono::milliseconds limit = std::chrono::seconds(30));

    // Everything connection `index` has sent so far.
    QByteArray received(int index = 0) const;
    // Waits until connection `index` has sent `bytes` in all (counting from its first byte).
    bool waitForReceived(const QByteArray& bytes, int index = 0,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Waits until the total received on `index` contains `fragment`.
    bool waitForContains(const QByteArray& fragment, int index = 0,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));
    void clearReceived(int index = 0);

    // Queues bytes for connection `index`; a thread of the peer sends them, so a test may send more than
    // the socket buffers hold while the window under test reads on the test's thread.
    bool send(const QByteArray& bytes, int index = 0);
    // Answers every read of every connection (what one recv took) on the peer's thread: what the
    // responder returns is queued as if sent with send(). Set it before the first connection.
    using Responder = std::function<QByteArray(const QByteArray& chunk)>;
    void setResponder(Responder responder) { responder_ = std::move(responder); }
    // Closes connection `index` once everything queued before has been sent.
    void close(int index = 0);
    bool waitForSent(int index = 0, std::chrono::milliseconds limit = std::chrono::seconds(30));
    // True once the PC side closed connection `index`.
    bool peerClosed(int index = 0) const;
    bool waitForPeerClose(int index = 0, std::chrono::milliseconds limit = std::chrono::seconds(30));

  private:
    struct Connection {
        int fd = -1;
        QByteArray received;
        bool closedByPeer = false;
        std::thread reader;
        std::thread writer;
        std::deque<QByteArray> outbox;
        bool closeRequested = false;
        bool stopping = false;
    };

    void acceptLoop();
    void readLoop(Connection* connection);
    void writeLoop(Connection* connection);
    template <typename Pred>
    bool waitWithEvents(Pred pred, std::chrono::milliseconds limit);

    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Connection>> connections_;
    Responder responder_;
};

}  // namespace testsupport
