#include "devsim/datapoint_service.h"

#include <cmath>
#include <cstring>

#include "devsim/simulated_device.h"
#include "devsim/tcp_helpers.h"

namespace devsim {

DatapointService::DatapointService(SimulatedDevice& device)
    : device_(device), table_(DatapointTable::demo()) {
    simulation_.setInterval(kSimulationPeriodMs);
    connect(&simulation_, &QTimer::timeout, this, &DatapointService::simulateStep);
    if (!device.options().datapointTable.isEmpty()) {
        QString error;
        if (!DatapointTable::load(device.options().datapointTable, &table_, &error))
            device_.log().append("datapoint: table not loaded, demo table used: " + error.toStdString());
    }
}

DatapointService::~DatapointService() { closeAllSessions(); }

bool DatapointService::listen(const QHostAddress& address, QString* error) {
    return listener_.listen(address, error);
}

void DatapointService::stopListening() { listener_.close(); }

void DatapointService::closeAllSessions() {
    auto sessions = std::move(sessions_);
    sessions_.clear();
    for (auto& s : sessions)
        if (s.socket) {
            s.socket->disconnect(this);
            s.socket->abort();
            s.socket->deleteLater();
        }
    subscriptions_.clear();
    simulation_.stop();
}

void DatapointService::accept(QTcpSocket* socket) {
    socket->setReadBufferSize(kMaxLine);  // what waits unread stays bounded as well as the line
    sessions_.push_back({socket, socket->peerAddress(), LineSplitter(kMaxLine), false});
    device_.log().append("datapoint " + socket->peerAddress().toString().toStdString() + " connected");
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
}

DatapointService::Session* DatapointService::sessionOf(QTcpSocket* socket) {
    for (auto& s : sessions_)
        if (s.socket == socket) return &s;
    return nullptr;
}

QTcpSocket* DatapointService::notificationSocket(const QHostAddress& peer) {
    for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it)
        if (!it->commands && it->peer == peer && it->socket) return it->socket;
    return nullptr;
}

void DatapointService::onDisconnected(QTcpSocket* socket) {
    Session* session = sessionOf(socket);
    if (!session) return;
    // A PC that leaves drops its subscriptions with its command connection.
    if (session->commands) subscriptions_.erase(session->peer.toString());
    std::erase_if(sessions_, [socket](const Session& s) { return s.socket == socket; });
    socket->deleteLater();
}

void DatapointService::onReadyRead(QTcpSocket* socket) {
    Session* session = sessionOf(socket);
    if (!session) return;
    for (LineSplitter::Piece& piece : session->lines.feed(socket->readAll())) {
        session->commands = true;
        if (piece.overLong) {
            device_.log().append("datapoint " + session->peer.toString().toStdString() +
                                 " dropped an over-long line");
            reply(*session, "error: line too long");
        } else {
            device_.log().append("datapoint " + session->peer.toString().toStdString() + " < " +
                                 piece.line.toStdString());
            if (faults_.silent) continue;
            if (faults_.repliesBeforeSilence >= 0 && faults_.repliesBeforeSilence-- == 0) {
                faults_.silent = true;
                continue;
            }
            const QByteArray answer = handle(*session, piece.line);
            if (const int delay = faults_.replyDelayMs; delay > 0) {
                // A slow device: the answer leaves later, in order with the others.
                QTimer::singleShot(delay, socket, [this, socket, answer] {
                    if (Session* later = sessionOf(socket)) reply(*later, answer);
                });
                continue;
            }
            reply(*session, answer);
        }
        session = sessionOf(socket);  // a reply may have closed it
        if (!session) return;
    }
}

void DatapointService::reply(Session& session, const QByteArray& text) {
    if (!session.socket) return;
    if (faults_.overlongReply)
        session.socket->write(QByteArray(200, 'x') + "\r\n");
    else if (faults_.loneCrReply)
        session.socket->write(text + "\r");
    else
        session.socket->write(text + "\r\n");
}

QByteArray DatapointService::handle(Session& session, const QByteArray& line) {
    const QList<QByteArray> f = line.split('/');
    const QByteArray& word = f[0];
    const auto field = [&f](int i) { return i < f.size() ? f[i] : QByteArray(); };
    if (word == "dpid") {
        bool ok;
        const Datapoint* p = table_.at(field(1).toInt(&ok));
        if (!ok || !p) return {};
        return p->name + "/" + QByteArray::number(p->type) + "/" + (p->output ? "1" : "0");
    }
    if (word == "getdp") {
        const Datapoint* p = table_.find(line.mid(6));
        return p ? p->hexValue() : QByteArray();
    }
    if (word == "setdp") {
        const qsizetype slash = line.lastIndexOf('/');
        Datapoint* p = slash > 6 ? table_.find(line.mid(6, slash - 6)) : nullptr;
        if (!p || !p->output) return {};  // inputs are read-only
        return setValue(p->name, line.mid(slash + 1)) ? QByteArray("ok") : QByteArray();
    }
    if (word == "chgdp") {
        bool ok;
        const int handle = field(1).toInt(&ok);
        const QByteArray name = f.size() > 2 ? line.mid(line.indexOf('/', 6) + 1) : QByteArray();
        if (!ok || !table_.find(name)) return {};
        subscriptions_[session.peer.toString()][handle].insert(name);
        return "ok";
    }
    if (word == "rem") {
        bool ok;
        const int handle = field(1).toInt(&ok);
        if (!ok) return {};
        subscriptions_[session.peer.toString()].erase(handle);
        return "ok";
    }
    if (word == "simulate") {
        if (field(1) == "on") {
            simulation_.start();
        } else if (field(1) == "off") {
            simulation_.stop();
        } else {
            return {};
        }
        return "ok";
    }
    return "error";
}

bool DatapointService::setValue(const QByteArray& name, const QByteArray& hex) {
    Datapoint* p = table_.find(name);
    if (!p) return false;
    const QByteArray before = p->value;
    if (!p->setHexValue(hex)) return false;
    if (p->value != before) notify(*p);
    return true;
}

void DatapointService::notify(const Datapoint& point) {
    for (const auto& [peer, handles] : subscriptions_) {
        QTcpSocket* socket = notificationSocket(QHostAddress(peer));
        if (!socket) continue;
        for (const auto& [handle, names] : handles)
            if (names.count(point.name))
                push(socket, "chg/" + QByteArray::number(handle) + "/" + point.name + "/" + point.hexValue() +
                                 "\r\n");
    }
}

void DatapointService::simulateStep() {
    ++step_;
    for (auto& p : table_.points()) {
        QByteArray bytes = p.value;
        switch (p.type) {
            case 4: {
                const float f = static_cast<float>(50.0 + 50.0 * std::sin(step_ / 10.0));
                std::memcpy(bytes.data(), &f, 4);
                break;
            }
            case 11:
                bytes = step_ % 10 < 5 ? QByteArray("\xFF\xFF", 2) : QByteArray(2, '\0');
                break;
            default:  // counters: the lowest byte moves, the rest carries
                for (auto& b : bytes)
                    if (++reinterpret_cast<unsigned char&>(b) != 0) break;
                break;
        }
        if (bytes != p.value) {
            p.value = bytes;
            notify(p);
        }
    }
}

void DatapointService::closeCommandConnections() {
    for (auto& s : sessions_)
        if (s.commands && s.socket) s.socket->disconnectFromHost();
}

void DatapointService::closeNotificationConnections() {
    for (auto& s : sessions_)
        if (!s.commands && s.socket) s.socket->disconnectFromHost();
}

void DatapointService::pushRaw(const QByteArray& bytes) {
    std::vector<QTcpSocket*> sockets;
    for (auto& s : sessions_)
        if (!s.commands && s.socket) sockets.push_back(s.socket);
    for (QTcpSocket* socket : sockets) push(socket, bytes);
}

void DatapointService::push(QTcpSocket* socket, const QByteArray& bytes) {
    if (socket->state() != QAbstractSocket::ConnectedState) return;
    // A PC that no longer reads its notifications must not make the device hold them for ever.
    if (socket->bytesToWrite() + bytes.size() > kMaxBacklog) {
        device_.log().append("datapoint " + socket->peerAddress().toString().toStdString() +
                             " notification connection closed: " + std::to_string(socket->bytesToWrite()) +
                             " bytes not read");
        socket->abort();
        onDisconnected(socket);  // at once, whether or not the abort announced itself
        return;
    }
    socket->write(bytes);
}

int DatapointService::subscriptionCount() const {
    int count = 0;
    for (const auto& [peer, handles] : subscriptions_)
        for (const auto& [handle, names] : handles) count += static_cast<int>(names.size());
    return count;
}

}  // namespace devsim
