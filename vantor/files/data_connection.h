#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <chrono>
#include <functional>

#include "platform/net/tcp_client.h"

namespace vantor {
class ShellHost;
}

namespace vantor::files {

using namespace std::chrono_literals;

// Time limits of a copy's data connection (all through platform::scaled()).
inline constexpr std::chrono::milliseconds kConnectWait = 10s;
inline constexpr std::chrono::milliseconds kOkWait = 10s;
inline constexpr std::chrono::milliseconds kSizeLineWait = 5s;
// A device that sends nothing for this long during a copy is taken as gone.
inline constexpr std::chrono::milliseconds kDeviceSilence = 30s;
// No wait for one reply lasts longer than this, however the device trickles its bytes.
inline constexpr std::chrono::milliseconds kReplyTotal = 60s;
// How long the data connection waits in place for the device's reply to a block or an "ack" sent from
// a reply's event, before it leaves the wait to the event loop: a device answers well within it (the
// system rounds it up to its clock tick).
inline constexpr std::chrono::microseconds kReplyWaitInPlace = 2ms;

// The second connection of a copy window to the device (`sckCopy`) and the bytes received on it
// (`copyBuffer`): connecting with its time limit, and waits that end on the awaited reply, a close by
// the device, a time limit or silence. UI thread only.
class DataConnection : public QObject {
    Q_OBJECT
  public:
    enum class ConnectResult { Connected, Refused, TimedOut };
    // ProtocolError: a reply line longer than any the device sends, or one that took longer than kReplyTotal.
    enum class WaitResult { Ready, TimedOut, Closed, Cancelled, ProtocolError };

    explicit DataConnection(QObject* parent = nullptr);

    platform::net::TcpClient sckCopy;
    QByteArray copyBuffer;

    // Empties the buffer, connects with local port 0 to the shell's address and port, and waits up to
    // kConnectWait.
    ConnectResult open(ShellHost& host);
    // Waits, processing events, until `ready`, or the device closes the connection, or `cancelled`, or
    // `limit` passes; with `sinceLastData` the limit counts from the last bytes that arrived (silence),
    // and the whole wait ends after kReplyTotal all the same (ProtocolError).
    WaitResult waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit,
                       bool sinceLastData, const bool* cancelled = nullptr);
    // Waits as waitFor for the next whole reply line and takes it from copyBuffer without its CR LF (what
    // follows stays). `skipEmpty` passes over empty lines.
    WaitResult waitForLine(QByteArray& line, std::chrono::milliseconds limit, bool sinceLastData,
                           bool skipEmpty = false);
    // waitForLine for a handshake reply: a reply whose CR LF never comes is still taken, as it stands,
    // once the time runs out.
    WaitResult waitForReply(QByteArray& reply, std::chrono::milliseconds limit, bool sinceLastData);
    bool closedByDevice() const { return closed_; }
    void close();

    // Data that arrives after a close by this side is not taken (a download reads only while connected).
    bool takeOnlyWhileConnected = false;

    // Runs inside the data-arrival event once the bytes are in copyBuffer, also for what came just before
    // a close by the device. A copy answers the device from here, block after block, without a return to
    // its waiting loop (and a new wait) for each one; the wait only looks for the end. It shows no
    // message box and runs no wait of its own (see TcpClient::setDirectReads).
    std::function<void()> onArrival;
    // A reply is now due (a block or an "ack" went out): kReplyTotal counts from here in a wait with
    // `sinceLastData` that is already under way, and from inside a data-arrival event the reply is
    // waited for in place.
    void replyDue() {
        replyStarted_.restart();
        sckCopy.awaitReply();
    }

  private:
    void onData();

    bool closed_ = false;
    QElapsedTimer lastData_;
    QElapsedTimer replyStarted_;
};

}  // namespace vantor::files
