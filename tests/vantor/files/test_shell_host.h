#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <functional>
#include <map>
#include <ostream>
#include <string>

#include "platform/net/tcp_client.h"
#include "platform/ui/wait.h"
#include "vantor/common/shell_host.h"

// Readable QString and QByteArray values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << '"' << (b.size() > 200 ? b.left(200).toStdString() + "..." : b.toStdString()) << "\" (" << b.size()
        << " bytes)";
}

namespace testsupport {

// The part of the main window the file windows use: one shell connection, its address, and routing of
// the NUL-terminated messages to subscribers by their status words. UI thread.
class TestShellHost : public QObject, public vantor::ShellHost {
  public:
    TestShellHost();
    bool connectTo(const QString& address);

    platform::net::TcpClient& sckShell() override { return shell_; }
    QString HostIP() const override { return shell_.RemoteHostIP(); }
    quint16 HostPort() const override { return shell_.RemotePort(); }
    qint32 Register4Notify(vantor::NotifyClient* client) override;
    void UnRegister4Notify(qint32 handle) override;

    int subscriberCount() const { return static_cast<int>(clients_.size()); }
    // Every shell message received so far, without its NUL.
    QList<QByteArray> messages;
    bool waitForMessage(const QByteArray& fragment, int limitMs = 5000);

  private:
    void route(const QByteArray& message);

    platform::net::TcpClient shell_;
    QByteArray pending_;
    std::map<qint32, vantor::NotifyClient*> clients_;
    qint32 count_ = 0;
};

// Waits, keeping this thread's event loop running (so the window's queued bytes leave), until the
// device's log has a line with `fragment`.
template <typename Log>
bool waitForLog(const Log& log, const std::string& fragment) {
    return platform::ui::waitUntil([&] { return log.contains(fragment); }, std::chrono::seconds(5));
}

// Runs `inside` once `dialog` is shown modally (from the dialog's own event loop), so a test can drive
// a window whose opening call blocks.
void whenShown(class QWidget* dialog, std::function<void()> inside);

}  // namespace testsupport
