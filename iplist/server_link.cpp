#include "iplist/server_link.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "iplist/ip_list_combo.h"
#include "platform/net/tcp_client.h"

namespace iplist {

ServerLink::ServerLink(QComboBox& addresses, QPushButton& connectButton, platform::net::TcpClient& socket,
                       QTimer& watch, quint16 port, std::function<void(const QString&)> showStatus)
    : addresses_(addresses),
      connectButton_(connectButton),
      socket_(socket),
      watch_(watch),
      port_(port),
      showStatus_(std::move(showStatus)) {}

bool ServerLink::offersConnect() const { return connectButton_.text() == QLatin1String("Connect"); }

void ServerLink::connect() {
    const QString host = adoptTypedHost(addresses_);
    state_ = Connecting;
    watch_.start();
    addresses_.setEnabled(false);
    connectButton_.setText(QStringLiteral("Disconnect"));
    socket_.Connect(host, port_);
    showStatus_(QStringLiteral("Connecting to ") + host);
}

void ServerLink::disconnect() {
    state_ = Idle;
    socket_.Close();
    connectButton_.setText(QStringLiteral("Connect"));
    addresses_.setEnabled(true);
    showStatus_(QStringLiteral("Disonnected"));
}

void ServerLink::drop() {
    state_ = Idle;
    socket_.Close();
}

ServerLink::Change ServerLink::poll() {
    const bool connected = socket_.state() == platform::net::TcpClient::Connected;
    Change change = Change::None;
    if (state_ == Connecting && connected) {
        showStatus_(QStringLiteral("Connected"));
        state_ = Connected;
        change = Change::Up;
    } else if (state_ == Connected && !connected) {
        connectButton_.setEnabled(true);
        state_ = Idle;
        change = Change::Lost;
    }
    if (state_ == Idle) watch_.stop();
    return change;
}

}  // namespace iplist
