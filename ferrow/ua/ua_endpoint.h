#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QThread>
#include <memory>

#include "ferrow/ua/channel_security_config.h"
#include "ferrow/ua/data_source.h"
#include "ferrow/ua/server_info.h"

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
    };

    UaEndpoint(UaDataSource& source, Settings settings);
    ~UaEndpoint();

    // Listens and serves; the error text (a port taken, ...) or empty. Addresses other than loopback are
    // left out until the endpoint offers security; `notice` says so when it happened.
    QString start(QString* notice = nullptr);
    void stop();
    quint16 port() const { return port_; }
    QString endpointUrl() const;
    // Sessions open now (read on the endpoint's thread).
    std::size_t sessionCount();

    static QList<QHostAddress> loopbackOnly(const QList<QHostAddress>& addresses, QString* notice);

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
