#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "devsim/client_sessions.h"
#include "devsim/debug_flood.h"
#include "devsim/tcp_listener.h"

namespace devsim {

class SimulatedDevice;

// The debug-message source on TCP 5151: every connection receives a text stream of what the device
// does (each line of the device log, time-stamped, CR LF) and a periodic heartbeat. It reads nothing.
// Tests and the benchmark script it: exact bytes with send(), a flood with startFlood(). Lives on the
// device thread; call its members there (SimulatedDevice::run).
class DebugService : public QObject {
    Q_OBJECT
  public:
    static constexpr quint16 kPort = 5151;
    static constexpr std::chrono::milliseconds kDefaultHeartbeat{5000};
    // A flood writes while less than this waits in a socket's send buffer, so it never piles up here.
    static constexpr qint64 kHighWater = 512 * 1024;
    static constexpr qint64 kFloodChunk = 64 * 1024;
    // Lines held back behind a running flood, at most.
    static constexpr qsizetype kMaxHeld = 1024 * 1024;

    explicit DebugService(SimulatedDevice& device);
    ~DebugService() override;

    bool listen(const QHostAddress& address, QString* error);
    void stopListening();
    void closeAllSessions();

    // Sends `bytes` unchanged to every connection.
    void send(const QByteArray& bytes);
    // Sends `bytes` of the flood pattern to every connection now open, as fast as each one reads.
    // Other text for a flooded connection waits until its flood is through.
    void startFlood(qint64 bytes);
    bool flooding() const;
    // 0 switches the heartbeat off.
    void setHeartbeatInterval(std::chrono::milliseconds interval);
    int connectionCount() const { return static_cast<int>(sessions_.all().size()); }

  private:
    struct Session {
        QPointer<QTcpSocket> socket;
        std::string peer;
        qint64 floodLeft = 0;
        FloodPattern pattern;
        QByteArray held;
    };
    struct LogRelay;

    void accept(QTcpSocket* socket);
    void onLogLine(const std::string& line);
    void write(Session& session, const QByteArray& bytes);
    void pump(Session* session);
    void heartbeat();

    SimulatedDevice& device_;
    TcpListener listener_{this, kPort, "debug", [this](QTcpSocket* socket) { accept(socket); }};
    ClientSessions<Session> sessions_;
    std::shared_ptr<LogRelay> relay_;
    int listenerId_ = 0;
    QTimer heartbeatTimer_;
    int heartbeats_ = 0;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace devsim
