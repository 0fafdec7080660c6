#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "devsim/device_log.h"
#include "devsim/tcp_helpers.h"

namespace devsim {

// The connections of a service that keeps one record per client: a `Session` has at least
// `QPointer<QTcpSocket> socket` and `std::string peer`. Each connection is logged as it comes and goes
// ("sql 127.0.0.1:40000 connected", "… closed"), its socket belongs to the service, and its record
// goes when the client leaves. Device thread only.
template <class Session>
class ClientSessions {
  public:
    ClientSessions(QObject& owner, DeviceLog& log, const char* service)
        : owner_(owner), log_(log), service_(service) {}
    ~ClientSessions() { closeAll(); }
    ClientSessions(const ClientSessions&) = delete;
    ClientSessions& operator=(const ClientSessions&) = delete;

    // Takes a new connection; its record is dropped when the client disconnects.
    Session* add(QTcpSocket* socket) {
        auto session = std::make_unique<Session>();
        session->socket = socket;
        session->peer = peerText(*socket);
        Session* raw = session.get();
        sessions_.push_back(std::move(session));
        socket->setParent(&owner_);
        QObject::connect(socket, &QTcpSocket::disconnected, &owner_, [this, raw] { drop(raw); });
        log_.append(service_ + " " + raw->peer + " connected");
        return raw;
    }

    // Closes every connection; none of them reaches the service again.
    void closeAll() {
        for (auto& session : sessions_) dropConnection(session->socket, &owner_);
        sessions_.clear();
    }

    const std::vector<std::unique_ptr<Session>>& all() const { return sessions_; }

  private:
    void drop(Session* session) {
        log_.append(service_ + " " + session->peer + " closed");
        if (QTcpSocket* socket = session->socket) {
            socket->disconnect(&owner_);
            socket->deleteLater();
        }
        std::erase_if(sessions_, [session](const auto& s) { return s.get() == session; });
    }

    QObject& owner_;
    DeviceLog& log_;
    std::string service_;
    std::vector<std::unique_ptr<Session>> sessions_;
};

}  // namespace devsim
