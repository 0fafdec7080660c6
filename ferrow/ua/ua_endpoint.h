#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QThread>
#include <memory>

#include "ferrow/ua/channel_security_config.h"
#include "ferrow/ua/data_source.h"
#include "ferrow/ua/server_info.h"
#include "ferrow/ua/user_access.h"

namespace ferrow::ua {

class UaServerCore;
class UaTcpListener;
struct PostTarget;

// Ferrow's OPC UA endpoint: the listener and the services on a thread of their own, serving the data
// source. Start and stop from one thread (the application's); the data source must outlive the endpoint.
class UaEndpoint {
  public:
    struct Settings {
        QList<QHostAddress> addresses{QHostAddress(QHostAddress::LocalHost),
                                      QHostAddress(QHostAddress::LocalHostIPv6)};
        quint16 port = 4840;  // 0: one the system chooses (tests)
        ServerInfo info;
        // Policies, modes and identity of the secure channels; policy None only when unset.
        std::shared_ptr<const ChannelSecurityConfig> security;
        UserAccess users;
    };

    UaEndpoint(UaDataSource& source, Settings settings);
    ~UaEndpoint();

    // Listens on the addresses given and serves; the error text (a port taken, ...) or empty. Which
    // addresses are served with what security is the caller's choice.
    QString start();
    void stop();
    quint16 port() const { return port_; }
    QString endpointUrl() const;
    // Sessions open now (read on the endpoint's thread).
    std::size_t sessionCount();

  private:
    UaDataSource& source_;
    Settings settings_;
    QThread thread_;
    QObject* anchor_ = nullptr;  // lives on thread_; owns nothing
    std::shared_ptr<PostTarget> postTarget_;
    std::unique_ptr<UaServerCore> core_;
    std::unique_ptr<UaTcpListener> listener_;
    quint16 port_ = 0;
};

}  // namespace ferrow::ua
