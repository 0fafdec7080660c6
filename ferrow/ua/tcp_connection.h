#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ferrow/ua/secure_channel.h"

namespace ferrow::ua {

// What owns the socket: sends bytes and ends the connection.
class ConnectionSink {
  public:
    virtual ~ConnectionSink() = default;
    virtual void send(std::string bytes) = 0;
    virtual void closeConnection() = 0;
};

class UaConnection;

// Where assembled service requests go, and who hears that a channel ended.
class RequestHandler {
  public:
    virtual ~RequestHandler() = default;
    virtual void onRequest(UaConnection& connection, AssembledRequest request) = 0;
    virtual void onChannelEnded(UaConnection& connection) = 0;
};

// One UA TCP connection: cuts the byte stream into messages, answers HEL with ACK, hands OPN, MSG and CLO
// to its secure channel and requests to the handler, and sends responses in chunks. Anything malformed
// ends the connection with ERR. Holds at most one message of the negotiated buffer size; runs on the
// network thread. The time is passed in, so tests drive it with a clock of their own.
class UaConnection {
  public:
    // Without `security` the connection's channel offers policy None only.
    // `peerAddress` names the client where login attempts are counted per client.
    UaConnection(std::uint64_t id, std::uint32_t channelId, ConnectionSink& sink, RequestHandler& handler,
                 Clock::time_point now, std::shared_ptr<const ChannelSecurityConfig> security = nullptr,
                 std::string peerAddress = {});
    ~UaConnection();

    void onBytes(std::string_view bytes, Clock::time_point now);
    // Sends the response with encoding `typeId`; one over the peer's limits becomes a ServiceFault.
    void sendResponse(std::uint32_t requestId, std::uint32_t requestHandle, std::uint32_t typeId,
                      const std::string& body);
    // Ends the connection when the peer sent no HEL in time or let its channel expire.
    void onTimer(Clock::time_point now);
    std::optional<Clock::time_point> nextDeadline() const;
    // The peer went away.
    void onDisconnected();
    // Ends the connection with ERR carrying `status`.
    void abort(std::uint32_t status, const std::string& reason);

    std::uint64_t id() const { return id_; }
    const std::string& peerAddress() const { return peerAddress_; }
    std::uint32_t channelId() const { return channelId_; }
    bool isClosed() const { return state_ == State::Closed; }
    bool hasChannel() const { return channel_ && channel_->isOpen(); }
    // The channel after HEL (open or not yet), for the session layer's security checks; null before.
    const SecureChannel* channel() const { return channel_.get(); }

  private:
    enum class State { AwaitingHello, Open, Closed };

    void onMessage(const TcpHeader& header, std::string_view message, Clock::time_point now);
    void onHello(std::string_view message);
    void close();

    std::uint64_t id_;
    std::uint32_t channelId_;
    ConnectionSink& sink_;
    RequestHandler& handler_;
    State state_ = State::AwaitingHello;
    Clock::time_point helloDeadline_;
    std::uint32_t receiveBufferSize_ = 0;
    std::string buffer_;
    std::shared_ptr<const ChannelSecurityConfig> security_;
    std::string peerAddress_;
    std::unique_ptr<SecureChannel> channel_;
};

}  // namespace ferrow::ua
