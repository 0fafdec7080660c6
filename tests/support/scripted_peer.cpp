#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>

#include "platform/ui/wait.h"

namespace testsupport {

namespace {
// Wakes the test thread's event loop so that a wait there re-checks its condition.
void wakeMainThread() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}
}  // namespace

ScriptedPeer::ScriptedPeer(const QString& address, quint16 port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listenFd_, 16) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    if (::pipe(wakePipe_) != 0) return;
    acceptor_ = std::thread([this] { acceptLoop(); });
}

ScriptedPeer::~ScriptedPeer() {
    stopListening();
    std::vector<std::thread> readers;
    {
        std::lock_guard lock(mutex_);
        for (auto& c : connections_) {
            c->stopping = true;
            if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
            readers.push_back(std::move(c->reader));
            readers.push_back(std::move(c->writer));
        }
        changed_.notify_all();
    }
    for (auto& r : readers)
        if (r.joinable()) r.join();
    std::lock_guard lock(mutex_);
    for (auto& c : connections_)
        if (c->fd >= 0) ::close(c->fd);
    if (wakePipe_[0] >= 0) ::close(wakePipe_[0]);
    if (wakePipe_[1] >= 0) ::close(wakePipe_[1]);
}

void ScriptedPeer::stopListening() {
    if (acceptor_.joinable()) {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wakePipe_[1], &byte, 1);
        acceptor_.join();
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

void ScriptedPeer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection* raw = connection.get();
        connections_.push_back(std::move(connection));
        raw->reader = std::thread([this, raw] { readLoop(raw); });
        raw->writer = std::thread([this, raw] { writeLoop(raw); });
        changed_.notify_all();
        wakeMainThread();
    }
}

void ScriptedPeer::readLoop(Connection* connection) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(connection->fd, buffer, sizeof buffer, 0);
        std::lock_guard lock(mutex_);
        if (n <= 0) {
            connection->closedByPeer = true;
            changed_.notify_all();
            wakeMainThread();
            return;
        }
        connection->received.append(buffer, n);
        if (responder_) {
            const QByteArray answer = responder_(QByteArray(buffer, n));
            if (!answer.isEmpty()) connection->outbox.push_back(answer);
        }
        changed_.notify_all();
        wakeMainThread();
    }
}

template <typename Pred>
bool ScriptedPeer::waitWithEvents(Pred pred, std::chrono::milliseconds limit) {
    auto check = [&] {
        std::lock_guard lock(mutex_);
        return pred();
    };
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        return platform::ui::waitUntil(check, limit);
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, pred);
}

int ScriptedPeer::connectionCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(connections_.size());
}

bool ScriptedPeer::waitForConnections(int count, std::chrono::milliseconds limit) {
    return waitWithEvents([&] { return static_cast<int>(connections_.size()) >= count; }, limit);
}

QByteArray ScriptedPeer::received(int index) const {
    std::lock_guard lock(mutex_);
    return index < static_cast<int>(connections_.size()) ? connections_[index]->received : QByteArray();
}

bool ScriptedPeer::waitForReceived(const QByteArray& bytes, int index, std::chrono::milliseconds limit) {
    return waitWithEvents(
               [&] {
                   return index < static_cast<int>(connections_.size()) &&
                          connections_[index]->received.size() >= bytes.size();
               },
               limit) &&
           received(index).startsWith(bytes);
}

bool ScriptedPeer::waitForContains(const QByteArray& fragment, int index, std::chrono::milliseconds limit) {
    return waitWithEvents(
        [&] {
            return index < static_cast<int>(connections_.size()) &&
                   connections_[index]->received.contains(fragment);
        },
        limit);
}

void ScriptedPeer::clearReceived(int index) {
    std::lock_guard lock(mutex_);
    if (index < static_cast<int>(connections_.size())) connections_[index]->received.clear();
}

bool ScriptedPeer::send(const QByteArray& bytes, int index) {
    std::lock_guard lock(mutex_);
    if (index >= static_cast<int>(connections_.size())) return false;
    connections_[index]->outbox.push_back(bytes);
    changed_.notify_all();
    return true;
}

void ScriptedPeer::close(int index) {
    std::lock_guard lock(mutex_);
    if (index >= static_cast<int>(connections_.size())) return;
    connections_[index]->closeRequested = true;
    changed_.notify_all();
}

bool ScriptedPeer::waitForSent(int index, std::chrono::milliseconds limit) {
    return waitWithEvents(
        [&] { return index < static_cast<int>(connections_.size()) && connections_[index]->outbox.empty(); },
        limit);
}

void ScriptedPeer::writeLoop(Connection* connection) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] {
            return connection->stopping || !connection->outbox.empty() || connection->closeRequested;
        });
        if (connection->stopping) return;
        if (connection->outbox.empty()) {  // close requested, all sent
            ::shutdown(connection->fd, SHUT_RDWR);
            connection->closeRequested = false;
            continue;
        }
        const QByteArray bytes = connection->outbox.front();
        const int fd = connection->fd;
        lock.unlock();
        qsizetype sent = 0;
        bool failed = false;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::send(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0) {
                failed = true;
                break;
            }
            sent += n;
        }
        lock.lock();
        connection->outbox.pop_front();
        if (failed) connection->outbox.clear();
        changed_.notify_all();
        wakeMainThread();
    }
}

bool ScriptedPeer::peerClosed(int index) const {
    std::lock_guard lock(mutex_);
    return index < static_cast<int>(connections_.size()) && connections_[index]->closedByPeer;
}

bool ScriptedPeer::waitForPeerClose(int index, std::chrono::milliseconds limit) {
    return waitWithEvents(
        [&] { return index < static_cast<int>(connections_.size()) && connections_[index]->closedByPeer; },
        limit);
}

}  // namespace testsupport
