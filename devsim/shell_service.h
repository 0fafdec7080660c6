#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "devsim/line_splitter.h"
#include "devsim/tcp_listener.h"

namespace devsim {

class SimulatedDevice;
class ShellService;

// Faults a test can switch on for the shell; read on the device thread, set from any thread.
struct ShellFaults {
    std::atomic<bool> silent{false};             // commands are read and logged, never answered
    std::atomic<int> replyDelayMs{0};            // every answer waits this long
    std::atomic<long long> closeAfterBytes{-1};  // a session is closed once it has sent this many bytes
};

// One connection to the shell port. Lines end with CR LF (a bare LF is taken too); each line is a
// command whose answers are NUL-terminated messages. Lives on the device thread.
class ShellSession : public QObject {
    Q_OBJECT
  public:
    static constexpr qsizetype kMaxLine = 4096;
    static constexpr qint64 kReadBuffer = 64 * 1024;

    ShellSession(QTcpSocket* socket, ShellService& service);
    ~ShellSession() override;

    // Sends `text` followed by the NUL that ends a shell message.
    void sendMessage(const QByteArray& text);
    // Sends bytes as they are.
    void send(const QByteArray& bytes);
    void close();

    QTcpSocket* socket() const { return socket_; }
    QString peer() const;
    QHostAddress peerAddress() const { return peerAddress_; }
    bool hasReceivedAnything() const { return receivedAnything_; }

    // A command that goes on over several lines (a handshake) takes the session's next lines itself
    // until it calls releaseLines().
    void takeLines(std::function<void(const QByteArray& line)> handler);
    void releaseLines();

    // Hands the connection over to a data transfer: the session stops reading it and forgets it.
    QTcpSocket* detachSocket();

  private:
    void onReadyRead();
    void handleLine(const QByteArray& line);

    ShellService& service_;
    QPointer<QTcpSocket> socket_;
    QHostAddress peerAddress_;
    quint16 peerPort_ = 0;
    LineSplitter lines_{kMaxLine};
    bool receivedAnything_ = false;
    long long bytesSent_ = 0;
    std::function<void(const QByteArray&)> lineTaker_;
};

using ShellCommand = std::function<void(ShellSession& session, const QByteArray& arguments)>;

// The command shell on TCP 4212: accepts any number of connections, splits lines, dispatches each to
// the command registered for its first word (compared ignoring case), and answers unknown words with
// an "error" message. Lives on the device thread.
class ShellService : public QObject {
    Q_OBJECT
  public:
    static constexpr quint16 kPort = 4212;

    explicit ShellService(SimulatedDevice& device);
    ~ShellService() override;

    bool listen(const QHostAddress& address, QString* error);
    void stopListening();
    void closeAllSessions();

    void addCommand(const QByteArray& word, const QByteArray& help, ShellCommand handler);
    QByteArray helpText() const;

    // A command that announced a data connection collects it here: `take` receives the socket (it then
    // owns it) of the newest connection from the requester's address that has sent nothing yet, or of
    // the next one to arrive from there; nullptr when none came within `limit`.
    void claimDataConnection(ShellSession& requester, std::chrono::milliseconds limit,
                             std::function<void(QTcpSocket*)> take);

    SimulatedDevice& device() { return device_; }
    ShellFaults& faults() { return faults_; }

    // Internal to the sessions.
    void dispatch(ShellSession& session, const QByteArray& line);
    void sessionClosed(ShellSession* session);

  private:
    struct Command {
        QByteArray help;
        ShellCommand handler;
    };
    struct DataClaim {
        QHostAddress peer;
        std::function<void(QTcpSocket*)> take;
        QTimer* timer;
        QPointer<ShellSession> requester;
    };

    void accept(QTcpSocket* socket);
    bool giveToClaim(ShellSession* session);

    SimulatedDevice& device_;
    TcpListener listener_{this, kPort, "shell", [this](QTcpSocket* socket) { accept(socket); }};
    QHostAddress address_;
    std::vector<ShellSession*> sessions_;
    std::map<QByteArray, Command> commands_;  // key: lower-case word
    std::vector<DataClaim> claims_;
    ShellFaults faults_;
};

}  // namespace devsim
