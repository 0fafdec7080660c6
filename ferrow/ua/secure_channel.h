#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/ua/channel_security_config.h"
#include "ferrow/ua/key_derivation.h"
#include "ferrow/ua/openssl_handles.h"
#include "ferrow/ua/security_policy.h"
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

// The secure channel of one connection: issues and renews its tokens, checks channel and token ids and
// sequence numbers, verifies and decrypts chunks of a secured policy, assembles request chunks and cuts
// responses into (signed, encrypted) chunks the peer's buffers take. Owns the derived keys of the current
// and the previous token. Pure protocol state: the connection that owns it feeds it whole messages and
// sends what it returns; runs on the endpoint's network thread.
class SecureChannel {
  public:
    struct Negotiated {
        std::uint32_t sendBufferSize = 0;   // our chunks' largest size (the peer's receive buffer)
        std::uint32_t maxResponseSize = 0;  // 0: no limit from the peer
        std::uint32_t maxResponseChunks = 0;
        std::uint32_t maxRequestChunks = 0;  // what our ACK said
    };

    // Without `security` the channel offers policy None only.
    SecureChannel(std::uint32_t channelId, Negotiated negotiated,
                  std::shared_ptr<const ChannelSecurityConfig> security = nullptr);

    // One whole message (header included). Throws ChannelFault.
    ChannelEvent onMessage(const TcpHeader& header, std::string_view message, Clock::time_point now);

    // The response to `requestId` as MSG chunks, or nothing when it is over the peer's limits (the
    // caller answers BadResponseTooLarge then).
    std::optional<std::vector<std::string>> chunkResponse(std::uint32_t requestId, std::string_view body);

    bool isOpen() const { return tokenId_ != 0; }
    std::uint32_t channelId() const { return channelId_; }
    // When the current token runs out without renewal (a quarter past its lifetime, as clients expect).
    std::optional<Clock::time_point> expiry() const;

    const SecurityPolicy& securityPolicy() const { return *policy_; }
    MessageSecurityMode securityMode() const { return mode_; }
    // The client's DER certificate; empty under policy None.
    const std::string& peerCertificate() const { return peerCertificate_; }

  private:
    ChannelEvent onOpen(std::string_view message, Clock::time_point now);
    ChannelEvent onSymmetric(const TcpHeader& header, std::string_view message, Clock::time_point now);
    void checkSequence(std::uint32_t sequenceNumber);
    std::string openSecured(std::string_view message, std::size_t headerEnd, const SecurityPolicy& policy,
                            const std::string& senderCertificate, const std::string& receiverThumbprint);
    bool secured() const { return policy_->secured && mode_ != MessageSecurityMode::None; }
    std::uint32_t nextSequenceNumber();

    std::uint32_t channelId_;
    Negotiated negotiated_;
    std::shared_ptr<const ChannelSecurityConfig> security_;
    const SecurityPolicy* policy_ = &securityPolicyNone();
    MessageSecurityMode mode_ = MessageSecurityMode::None;
    std::string peerCertificate_;
    EvpPkeyPtr peerKey_;
    ChannelKeySet keys_, previousKeys_;
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
