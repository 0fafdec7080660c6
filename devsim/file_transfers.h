#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <functional>
#include <memory>

namespace devsim {

class FileDataLink;
class ShellSession;
class DeviceLog;
struct FileFaults;

// What a transfer needs from its command: the shell session that asked (for the status message at the
// end), the device log and the faults. Both transfers live on the device thread and delete themselves.
struct TransferContext {
    QPointer<ShellSession> shell;
    DeviceLog* log = nullptr;
    FileFaults* faults = nullptr;
};

// The device end of "copy": first reply ("exists", "error" or "new"), the PC's "continue"/"stop", "ok",
// then blocks of a flag byte and up to 1024 bytes, each answered by one line ("ok", and "done" after the
// last). The file is written to a temporary file and replaces the old one only when complete.
class CopyReceiver : public QObject {
    Q_OBJECT
  public:
    static constexpr qsizetype kBlock = 1024;

    CopyReceiver(FileDataLink* link, QString hostPath, QByteArray devicePath, bool execute, bool autoStart,
                 TransferContext context, QObject* parent);
    void start();

  private:
    enum class State { Deciding, Blocks, LastBlock, Finished };
    void onData(const QByteArray& data);
    void onLine(const QByteArray& line);
    void beginReceiving();
    void takeBlocks();
    void finish();
    void fail(const QByteArray& why);
    void shellMessage(const QByteArray& text);

    FileDataLink* link_;
    QString hostPath_;
    QByteArray devicePath_;
    bool execute_;
    bool autoStart_;
    TransferContext context_;
    std::unique_ptr<QSaveFile> file_;
    State state_ = State::Deciding;
    QByteArray pending_;
    qint64 received_ = 0;
    int blocks_ = 0;
    QTimer lastBlockTimer_;
};

// The device end of "getfile": a size line ("size <n>"), then the file in pieces; each "ack" line of the
// PC lets the next piece go. Sends at most one piece per acknowledgement, so memory stays flat.
class FileSender : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kPiece = 4096;

    FileSender(FileDataLink* link, QString hostPath, QByteArray devicePath, TransferContext context,
               QObject* parent);
    void start();

  private:
    void onData(const QByteArray& data);
    void sendPiece();
    void shellMessage(const QByteArray& text);
    void end();

    FileDataLink* link_;
    QString hostPath_;
    QByteArray devicePath_;
    TransferContext context_;
    QFile file_;
    QByteArray pending_;
    qint64 size_ = 0;
    qint64 sent_ = 0;
    bool ended_ = false;
};

}  // namespace devsim
