#include "ferrow/app/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

namespace ferrow {

namespace {
constexpr auto kWindowClassName = "MyClassName";
// A first instance that holds the lock but is still starting may not listen yet.
constexpr int kKnockLimitMs = 3000;
constexpr int kKnockRetryMs = 50;
}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

QString SingleInstance::folder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/quillon");
}

QString SingleInstance::socketPath() { return folder() + QLatin1Char('/') + QLatin1String(kWindowClassName); }

bool SingleInstance::claim() {
    QDir().mkpath(folder());
    QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    lock_ = std::make_unique<QLockFile>(socketPath() + QStringLiteral(".lock"));
    // The first instance runs for days: only a dead owner makes the lock stale, never its age.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        const bool heldByAnother = lock_->error() == QLockFile::LockFailedError;
        lock_.reset();
        // A runtime folder that cannot hold the lock must not keep Ferrow from starting at all.
        return !heldByAnother;
    }
    // Whoever held the socket name before is gone (we hold the lock): its file may still be there.
    QLocalServer::removeServer(socketPath());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptKnock);
    // Without the socket Ferrow still runs; only a second instance cannot bring it forward.
    server_->listen(socketPath());
    return true;
}

void SingleInstance::acceptKnock() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromServer();
        emit activationRequested();
    }
}

bool SingleInstance::activateFirst() {
    QDeadlineTimer deadline(kKnockLimitMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
            socket.disconnectFromServer();
            return true;
        }
        if (deadline.hasExpired()) return false;
        QThread::msleep(kKnockRetryMs);
    }
}

}  // namespace ferrow
