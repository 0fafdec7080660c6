#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <functional>
#include <string>

namespace devsim {

class DeviceLog;
struct FileFaults;

// One data connection of a file service, with the scripted faults applied: every byte the device sends
// goes through send(), every piece it receives comes out of onData (late, when the reader is slow).
// Owns the socket; lives on the device thread.
class FileDataLink : public QObject {
    Q_OBJECT
  public:
    FileDataLink(QTcpSocket* socket, FileFaults& faults, DeviceLog& log, std::string name, QObject* parent);
    ~FileDataLink() override;

    std::function<void(const QByteArray&)> onData;
    std::function<void()> onClosed;      // the PC closed the connection (not called after close())
    std::function<void()> onShellError;  // the "error on the shell" fault fired

    void send(const QByteArray& bytes);
    // Closes once what was sent has left.
    void close();
    bool isOpen() const { return socket_ != nullptr; }
    bool silent() const { return silent_; }
    long long bytesSent() const { return sent_; }

  private:
    void onReadyRead();
    void deliver();
    void goSilent(const char* why);

    QPointer<QTcpSocket> socket_;
    FileFaults& faults_;
    DeviceLog& log_;
    std::string name_;
    long long sent_ = 0;
    bool silent_ = false;
    bool readPending_ = false;
};

}  // namespace devsim
