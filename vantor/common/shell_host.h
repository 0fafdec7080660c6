#pragma once

#include <QString>
#include <QtGlobal>

namespace platform::net {
class TcpClient;
}

namespace vantor {

// A window that receives the shell's routed status messages ("success", "notify", "error").
// Every subscriber gets every routed message and ignores what is not meant for it.
class NotifyClient {
  public:
    virtual ~NotifyClient() = default;
    virtual void Notify(const QString& msg, const QString& data) = 0;
};

// What the other Vantor windows use of the main window: the shell connection, its remote address and
// port for a second data connection of their own, and subscription to routed status messages.
// frmMain implements it; tests may use a lighter host.
class ShellHost {
  public:
    virtual ~ShellHost() = default;
    // The shell socket; commands are sent with its SendData, always command + CR LF.
    virtual platform::net::TcpClient& sckShell() = 0;
    virtual QString HostIP() const = 0;
    virtual quint16 HostPort() const = 0;
    // A handle (1, 2, ...) or 0 when the client could not be added.
    virtual qint32 Register4Notify(NotifyClient* client) = 0;
    // Unknown handles are ignored.
    virtual void UnRegister4Notify(qint32 handle) = 0;
};

// A window's subscription to routed shell messages: subscribes once, ends when released or destroyed.
class NotifySubscription {
  public:
    explicit NotifySubscription(ShellHost& host) : host_(host) {}
    ~NotifySubscription() { release(); }
    NotifySubscription(const NotifySubscription&) = delete;
    NotifySubscription& operator=(const NotifySubscription&) = delete;

    void subscribe(NotifyClient* client) {
        if (handle_ == 0) handle_ = host_.Register4Notify(client);
    }
    void release() {
        if (handle_ != 0) host_.UnRegister4Notify(handle_);
        handle_ = 0;
    }
    qint32 handle() const { return handle_; }

  private:
    ShellHost& host_;
    qint32 handle_ = 0;
};

}  // namespace vantor
