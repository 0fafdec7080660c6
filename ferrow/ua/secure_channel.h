#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/ua/tcp_messages.h"

namespace ferrow::ua {

using Clock = std::chrono::steady_clock;

// A fault that ends the connection with an ERR message carrying `status`.
struct ChannelFault {
    std::uint32_t status;
    std::string reason;
};

// One service request as the channel assembled it: the encoding id and the body after it.
struct AssembledRequest {
    std::uint32_t requestId = 0;
    std::uint32_t typeId = 0;
    std::string body;
    // Set when the request was over the message limits; only its header may be in `body` then.
    bool tooLarge = false;
};

// What a channel reports when it has read one OPN, MSG or CLO message.
struct ChannelEvent {
    enum class Kind { None, Opened, Renewed, Request, Closed } kind = Kind::None;
    AssembledRequest request;
    std::string reply;  // bytes to send at once (the OPN response)
};

// The secure channel of one connection with security policy None: issues and renews its tokens, checks
// channel and token ids and sequence numbers, assembles request chunks and cuts responses into chunks
// the peer's buffers take. Pure protocol state: the connection that owns it feeds it whole messages
// and sends what it returns; runs on the endpoint's network thread.
class SecureChannel {
  public:
    struct Negotiated {
        std::uint32_t sendBufferSize = 0;   // our chunks' largest size (the peer's receive buffer)
        std::uint32_t maxResponseSize = 0;  // 0: no limit from the peer
        std::uint32_t maxResponseChunks = 0;
        std::uint32_t maxRequestChunks = 0;  // what our ACK said
    };

    SecureChannel(std::uint32_t channelId, Negotiated negotiated)
        : channelId_(channelId), negotiated_(negotiated) {}

    // One whole message (header included). Throws ChannelFault.
    ChannelEvent onMessage(const TcpHeader& header, std::string_view message, Clock::time_point now);

    // The response to `requestId` as MSG chunks, or nothing when it is over the peer's limits (the
    // caller answers BadResponseTooLarge then).
    std::optional<std::vector<std::string>> chunkResponse(std::uint32_t requestId, std::string_view body);

    bool isOpen() const { return tokenId_ != 0; }
    std::uint32_t channelId() const { return channelId_; }
    // When the current token runs out without renewal (a quarter past its lifetime, as clients expect).
    std::optional<Clock::time_point> expiry() const;

  private:
    ChannelEvent onOpen(std::string_view message, Clock::time_point now);
    ChannelEvent onSymmetric(const TcpHeader& header, std::string_view message, Clock::time_point now);
    void checkSequence(std::uint32_t sequenceNumber);
    std::uint32_t nextSequenceNumber();

    std::uint32_t channelId_;
    Negotiated negotiated_;
    std::uint32_t tokenId_ = 0, previousTokenId_ = 0;
    std::chrono::milliseconds lifetime_{0};
    Clock::time_point tokenCreated_{};
    std::uint32_t lastReceivedSequence_ = 0;
    bool anySequenceReceived_ = false;
    std::uint32_t sequenceNumber_ = 0;

    // The request whose chunks are arriving.
    std::optional<AssembledRequest> assembling_;
    std::size_t assembledSize_ = 0, assembledChunks_ = 0;
};

}  // namespace ferrow::ua
