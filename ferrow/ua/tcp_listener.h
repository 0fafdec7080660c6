#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "ferrow/ua/tcp_connection.h"

class QTcpServer;
class QTcpSocket;

namespace ferrow::ua {

// Accepts UA TCP connections and serves all of them from the thread it lives on, with non-blocking
// sockets: no thread per connection or request. A peer that sends nothing, sends slowly or stops
// reading holds up nobody: reads are bounded by the message buffer, a peer more than a few messages
// behind in reading its responses is dropped, and the HEL limit and channel lifetimes are checked by one
// housekeeping timer.
class UaTcpListener : public QObject {
    Q_OBJECT
  public:
    // `handler` gets the requests; `housekeeping` runs with the connections' deadline checks.
    UaTcpListener(RequestHandler& handler, std::function<void(Clock::time_point)> housekeeping,
                  QObject* parent = nullptr);
    ~UaTcpListener() override;

    // Listens on every address; the error text, empty when all listen.
    QString listen(const QList<QHostAddress>& addresses, quint16 port);
    quint16 port() const;
    UaConnection* connection(std::uint64_t id);
    std::size_t connectionCount() const { return peers_.size(); }
    void closeAll();
    // What channels of connections accepted from now on offer; policy None only until set.
    void setChannelSecurity(std::shared_ptr<const ChannelSecurityConfig> security) {
        security_ = std::move(security);
    }

    static constexpr std::size_t kMaxConnections = 1000;

  private:
    struct Peer;
    void onNewConnection(QTcpServer* server);
    void onReadyRead(Peer& peer);
    void onHousekeeping();
    void removeLater(std::uint64_t id);
    void dropLater(std::uint64_t id);

    RequestHandler& handler_;
    std::function<void(Clock::time_point)> housekeeping_;
    std::vector<QTcpServer*> servers_;
    std::map<std::uint64_t, std::unique_ptr<Peer>> peers_;
    std::uint64_t nextConnectionId_ = 1;
    std::uint32_t nextChannelId_ = 1;
    QTimer housekeepingTimer_;
    std::shared_ptr<const ChannelSecurityConfig> security_;
};

}  // namespace ferrow::ua
