#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

class QComboBox;
class QPushButton;
class QTimer;

namespace platform::net {
class TcpClient;
}

namespace iplist {

// The server row of the programs that talk to one device at a time: the address list, its
// Connect/Disconnect button, the socket and the timer that watches the socket's state. Connect takes
// the typed address into the list and locks the list until Disconnect; the timer runs while a link is
// being made or held. The window owns the controls; this keeps them in step. UI thread only.
class ServerLink {
  public:
    // The states as the windows number them.
    enum State : qint16 { Idle = 0, Connecting = 1, Connected = 2 };
    // What one look at the socket found.
    enum class Change { None, Up, Lost };

    // `showStatus` gets "Connecting to <address>", "Connected" and "Disonnected" as they happen.
    ServerLink(QComboBox& addresses, QPushButton& connectButton, platform::net::TcpClient& socket,
               QTimer& watch, quint16 port, std::function<void(const QString&)> showStatus);

    State state() const { return state_; }
    // The button says Connect (else Disconnect).
    bool offersConnect() const;
    // Adopts the typed address, locks the list and starts the connection attempt.
    void connect();
    // Closes the link and unlocks the list.
    void disconnect();
    // The link ended by a socket error: closed, the list stays as it is.
    void drop();
    // For the watch timer: notes a link made or lost; stops the timer once idle.
    Change poll();

  private:
    QComboBox& addresses_;
    QPushButton& connectButton_;
    platform::net::TcpClient& socket_;
    QTimer& watch_;
    quint16 port_;
    std::function<void(const QString&)> showStatus_;
    State state_ = Idle;
};

}  // namespace iplist
