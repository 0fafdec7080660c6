#include "devsim/file_data_link.h"

#include <QTimer>
#include <algorithm>

#include "devsim/device_log.h"
#include "devsim/file_faults.h"

namespace devsim {

FileDataLink::FileDataLink(QTcpSocket* socket, FileFaults& faults, DeviceLog& log, std::string name,
                           QObject* parent)
    : QObject(parent), socket_(socket), faults_(faults), log_(log), name_(std::move(name)) {
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &FileDataLink::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (!socket_) return;
        if (socket_->bytesAvailable() > 0 && !readPending_) deliver();  // what came just before the close
        if (!socket_) return;
        socket_->deleteLater();
        socket_ = nullptr;
        log_.append(name_ + ": data connection closed by the PC");
        if (onClosed) onClosed();
    });
    // Data may already be waiting when the connection was handed over.
    if (socket->bytesAvailable() > 0) QTimer::singleShot(0, this, &FileDataLink::onReadyRead);
}

FileDataLink::~FileDataLink() {
    // The owner is already gone (we are its child): no callback may reach it from here on.
    onData = nullptr;
    onClosed = nullptr;
    onShellError = nullptr;
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

void FileDataLink::send(const QByteArray& bytes) {
    if (!socket_ || silent_ || bytes.isEmpty()) return;
    // The first limit reached decides what happens to this piece.
    const long long closeAt = faults_.closeAfterBytes.load();
    const long long silentAt = faults_.silenceAfterBytes.load();
    const long long errorAt = faults_.shellErrorAfterBytes.load();
    long long limit = -1;
    int kind = 0;
    for (auto [at, k] : {std::pair{closeAt, 1}, std::pair{silentAt, 2}, std::pair{errorAt, 3}}) {
        if (at >= 0 && sent_ + bytes.size() >= at && (limit < 0 || at < limit)) {
            limit = at;
            kind = k;
        }
    }
    if (kind == 0) {
        sent_ += bytes.size();
        socket_->write(bytes);
        return;
    }
    const qsizetype part = static_cast<qsizetype>(std::max(0LL, limit - sent_));
    if (part > 0) socket_->write(bytes.left(part));
    sent_ += part;
    if (kind == 1) {
        log_.append(name_ + " fault: data connection closed after " + std::to_string(sent_) + " bytes");
        close();
    } else if (kind == 2) {
        goSilent("silent");
    } else {
        goSilent("error on the shell, then silent");
        if (onShellError) onShellError();
    }
}

void FileDataLink::close() {
    if (!socket_) return;
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    socket->disconnect(this);
    // The link may go at once; the device's services outlive it and clean up a socket left behind.
    QObject* keeper = this;
    while (keeper->parent()) keeper = keeper->parent();
    socket->setParent(keeper);
    // What was written still has to leave: the socket goes once it is really closed (or stuck for long).
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(30000, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
}

void FileDataLink::goSilent(const char* why) {
    silent_ = true;
    log_.append(name_ + " fault: " + why + " after " + std::to_string(sent_) + " bytes");
}

void FileDataLink::onReadyRead() {
    if (!socket_ || readPending_) return;
    const int delay = faults_.slowReaderMs.load();
    if (delay > 0) {
        // What is not read stays in the socket: the PC feels the slow reader through TCP itself.
        readPending_ = true;
        QTimer::singleShot(delay, this, [this] {
            readPending_ = false;
            deliver();
        });
        return;
    }
    deliver();
}

void FileDataLink::deliver() {
    if (!socket_) return;
    const QByteArray data = socket_->readAll();
    if (data.isEmpty() || silent_) return;
    if (onData) onData(data);
    // A slow reader takes one piece per delay; more may be waiting.
    if (socket_ && socket_->bytesAvailable() > 0) onReadyRead();
}

}  // namespace devsim
