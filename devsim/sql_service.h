#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <atomic>
#include <memory>
#include <vector>

#include "devsim/client_sessions.h"
#include "devsim/line_splitter.h"
#include "devsim/tcp_listener.h"

namespace devsim {

class SimulatedDevice;
class SqlDatabase;

// Faults a test can switch on for the SQL port; read on the device thread, set from any thread.
struct SqlFaults {
    std::atomic<bool> silent{false};   // requests are read and logged, never answered
    std::atomic<int> replyDelayMs{0};  // every answer waits this long
};

// The SQL server on TCP 5050: any number of connections; each request is one line (LF, a CR before it
// is dropped). "#schema" answers the schema, every other line runs as one SQL statement against the
// device's database; each answer goes out in one piece. Lives on the device thread.
class SqlService : public QObject {
    Q_OBJECT
  public:
    static constexpr quint16 kPort = 5050;
    static constexpr qsizetype kMaxLine = 64 * 1024;

    explicit SqlService(SimulatedDevice& device);
    ~SqlService() override;

    // Opens (and on first use seeds) the database, then listens.
    bool listen(const QHostAddress& address, QString* error);
    void stopListening();
    void closeAllSessions();

    SqlFaults& faults() { return faults_; }

  private:
    struct Session {
        QPointer<QTcpSocket> socket;
        LineSplitter lines{kMaxLine};
        std::string peer;
    };

    void accept(QTcpSocket* socket);
    void onReadyRead(Session* session);
    void answer(Session* session, const QByteArray& line);

    SimulatedDevice& device_;
    TcpListener listener_{this, kPort, "SQL", [this](QTcpSocket* socket) { accept(socket); }};
    std::unique_ptr<SqlDatabase> database_;
    ClientSessions<Session> sessions_;
    SqlFaults faults_;
};

}  // namespace devsim
