#include "vantor/files/data_connection.h"

#include <algorithm>

#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "vantor/common/shell_host.h"
#include "vantor/files/copy_protocol.h"

namespace vantor::files {

using platform::net::TcpClient;

DataConnection::DataConnection(QObject* parent) : QObject(parent) {
    sckCopy.setObjectName(QStringLiteral("sckCopy"));
    // A copy exchanges one short reply per block: one system call per arrival, not two.
    sckCopy.setDirectReads(true);
    sckCopy.setReplyWait(kReplyWaitInPlace);
    connect(&sckCopy, &TcpClient::dataArrival, this, [this] {
        if (!takeOnlyWhileConnected || sckCopy.state() == TcpClient::Connected) onData();
    });
    // A close by the device and a socket error both end the connection for the waits.
    connect(&sckCopy, &TcpClient::closed, this, [this] {
        onData();  // what the device sent before it closed still counts
        closed_ = true;
        sckCopy.Close();
    });
    connect(&sckCopy, &TcpClient::error, this, [this] { closed_ = true; });
    lastData_.start();
    replyStarted_.start();
}

void DataConnection::onData() {
    if (sckCopy.GetData(copyBuffer) == 0) return;
    lastData_.restart();
    if (onArrival) onArrival();
}

DataConnection::ConnectResult DataConnection::open(ShellHost& host) {
    copyBuffer.clear();
    sckCopy.Close();
    closed_ = false;
    sckCopy.setLocalPort(0);
    sckCopy.Connect(host.HostIP(), host.HostPort());
    platform::ui::waitUntil([this] { return sckCopy.state() == TcpClient::Connected || closed_; },
                            platform::scaled(kConnectWait));
    if (sckCopy.state() == TcpClient::Connected) {
        lastData_.restart();
        return ConnectResult::Connected;
    }
    const bool refused = closed_;
    sckCopy.Close();
    return refused ? ConnectResult::Refused : ConnectResult::TimedOut;
}

DataConnection::WaitResult DataConnection::waitFor(const std::function<bool()>& ready,
                                                   std::chrono::milliseconds limit, bool sinceLastData,
                                                   const bool* cancelled) {
    // `ready` may consume what it finds (a reply): ask it until it says yes, never again after that.
    bool got = false;
    const auto check = [&] { return got || (got = ready()); };
    const auto scaledLimit = platform::scaled(limit);
    const qint64 total = platform::scaled(kReplyTotal).count();
    QElapsedTimer started;
    started.start();
    replyStarted_.start();
    for (;;) {
        if (check()) return WaitResult::Ready;
        if (cancelled && *cancelled) return WaitResult::Cancelled;
        if (closed_) return WaitResult::Closed;
        const qint64 elapsed = sinceLastData ? lastData_.elapsed() : started.elapsed();
        qint64 left = scaledLimit.count() - elapsed;
        if (left <= 0) return WaitResult::TimedOut;
        if (sinceLastData) {
            const qint64 totalLeft = total - replyStarted_.elapsed();
            if (totalLeft <= 0) return WaitResult::ProtocolError;
            left = std::min(left, totalLeft);
        }
        platform::ui::waitUntil([&] { return check() || closed_ || (cancelled && *cancelled); },
                                std::chrono::milliseconds(left));
    }
}

DataConnection::WaitResult DataConnection::waitForLine(QByteArray& line, std::chrono::milliseconds limit,
                                                       bool sinceLastData, bool skipEmpty) {
    LineStatus status = LineStatus::Incomplete;
    const auto take = [&] {
        do status = TakeLine(copyBuffer, line);
        while (skipEmpty && status == LineStatus::Complete && line.isEmpty());
        return status != LineStatus::Incomplete;
    };
    const WaitResult result = waitFor(take, limit, sinceLastData);
    return result == WaitResult::Ready && status == LineStatus::TooLong ? WaitResult::ProtocolError : result;
}

DataConnection::WaitResult DataConnection::waitForReply(QByteArray& reply, std::chrono::milliseconds limit,
                                                        bool sinceLastData) {
    const WaitResult result = waitForLine(reply, limit, sinceLastData);
    if (result != WaitResult::TimedOut || copyBuffer.isEmpty()) return result;
    reply = ReadReply(copyBuffer);
    return WaitResult::Ready;
}

void DataConnection::close() {
    sckCopy.Close();
    closed_ = true;  // a wait under way ends too
}

}  // namespace vantor::files
