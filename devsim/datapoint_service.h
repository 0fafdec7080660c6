#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <map>
#include <set>
#include <vector>

#include "devsim/datapoint_table.h"
#include "devsim/line_splitter.h"
#include "devsim/tcp_listener.h"

namespace devsim {

class SimulatedDevice;

// Faults a test can switch on; set from any thread, read on the device thread.
struct DatapointFaults {
    std::atomic<bool> silent{false};            // requests are read and logged, never answered
    std::atomic<bool> overlongReply{false};     // every reply is a line of 200 characters
    std::atomic<bool> loneCrReply{false};       // every reply ends with a lone CR instead of CR LF
    std::atomic<int> replyDelayMs{0};           // each reply leaves this long after its request
    std::atomic<int> repliesBeforeSilence{-1};  // >= 0: that many more replies, then silent
};

// The datapoint server on TCP 4224. A PC opens two connections: the one that sends requests is its
// command connection; the newest connection from the same address that has sent nothing is its
// notification connection, where value changes of the tags it subscribed ("chgdp") are pushed as
// "chg/<handle>/<name>/<hex>" lines. Replies are one line each, ended by CR LF; an empty line refuses.
// Lives on the device thread.
class DatapointService : public QObject {
    Q_OBJECT
  public:
    static constexpr quint16 kPort = 4224;
    static constexpr int kSimulationPeriodMs = 200;
    static constexpr qsizetype kMaxLine = 4096;
    // Notifications a connection has not taken yet; beyond this the connection is closed.
    static constexpr qint64 kMaxBacklog = 256 * 1024;

    explicit DatapointService(SimulatedDevice& device);
    ~DatapointService() override;

    bool listen(const QHostAddress& address, QString* error);
    void stopListening();
    void closeAllSessions();

    DatapointTable& table() { return table_; }
    void setTable(DatapointTable table) { table_ = std::move(table); }
    DatapointFaults& faults() { return faults_; }
    bool simulating() const { return simulation_.isActive(); }

    // Device thread: sets a value as the device's own logic would, notifying subscribers.
    bool setValue(const QByteArray& name, const QByteArray& hex);
    // Device thread: closes every command connection or every notification connection.
    void closeCommandConnections();
    void closeNotificationConnections();
    // Device thread: raw bytes down every notification connection (malformed lines for tests).
    void pushRaw(const QByteArray& bytes);
    int subscriptionCount() const;

  private:
    struct Session {
        QPointer<QTcpSocket> socket;
        QHostAddress peer;
        LineSplitter lines{kMaxLine};
        bool commands = false;  // has sent a request
    };
    void accept(QTcpSocket* socket);
    void onReadyRead(QTcpSocket* socket);
    void onDisconnected(QTcpSocket* socket);
    QByteArray handle(Session& session, const QByteArray& line);
    void reply(Session& session, const QByteArray& text);
    void notify(const Datapoint& point);
    void push(QTcpSocket* socket, const QByteArray& bytes);
    void simulateStep();
    Session* sessionOf(QTcpSocket* socket);
    QTcpSocket* notificationSocket(const QHostAddress& peer);

    SimulatedDevice& device_;
    TcpListener listener_{this, kPort, "datapoint", [this](QTcpSocket* socket) { accept(socket); }};
    std::vector<Session> sessions_;
    // peer address -> handle -> subscribed names
    std::map<QString, std::map<int, std::set<QByteArray>>> subscriptions_;
    DatapointTable table_;
    DatapointFaults faults_;
    QTimer simulation_;
    unsigned step_ = 0;
};

}  // namespace devsim
