#include "ferrow/ua/tcp_connection.h"

#include <algorithm>

#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/common_messages.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {
// HEL: five numbers and an endpoint URL of at most 4096 bytes.
constexpr std::size_t kMaxHelloSize = kTcpHeaderSize + 24 + limits::kMaxEndpointUrlLength;
// Channel id, token id, sequence number and request id.
constexpr std::size_t kMinSymmetricSize = kTcpHeaderSize + 16;
}  // namespace

UaConnection::UaConnection(std::uint64_t id, std::uint32_t channelId, ConnectionSink& sink,
                           RequestHandler& handler, Clock::time_point now,
                           std::shared_ptr<const ChannelSecurityConfig> security, std::string peerAddress)
    : id_(id),
      channelId_(channelId),
      sink_(sink),
      handler_(handler),
      helloDeadline_(now + limits::kHelloLimit),
      security_(std::move(security)),
      peerAddress_(std::move(peerAddress)) {}

UaConnection::~UaConnection() = default;

void UaConnection::onBytes(std::string_view bytes, Clock::time_point now) {
    if (state_ == State::Closed) return;
    buffer_.append(bytes);
    while (state_ != State::Closed) {
        const auto header = peekTcpHeader(buffer_);
        if (!header) return;
        const bool awaitingHello = state_ == State::AwaitingHello;
        const bool knownType = awaitingHello
                                   ? header->type == "HEL"
                                   : header->type == "OPN" || header->type == "MSG" || header->type == "CLO";
        if (!knownType)
            return abort(status::BadTcpMessageTypeInvalid,
                         awaitingHello ? "the first message is not HEL" : "unexpected message type");
        const std::size_t limit = awaitingHello ? kMaxHelloSize : receiveBufferSize_;
        if (header->size < kTcpHeaderSize)
            return abort(status::BadTcpMessageTypeInvalid, "message shorter than its header");
        if (header->size > limit)
            return abort(status::BadTcpMessageTooLarge, "a message of " + std::to_string(header->size) +
                                                            " bytes, over the buffer's " +
                                                            std::to_string(limit));
        if (buffer_.size() < header->size) return;
        const std::string message = buffer_.substr(0, header->size);
        buffer_.erase(0, header->size);
        onMessage(*header, message, now);
    }
}

void UaConnection::onMessage(const TcpHeader& header, std::string_view message, Clock::time_point now) {
    if (state_ == State::AwaitingHello) {
        if (header.chunkType != 'F') return abort(status::BadTcpMessageTypeInvalid, "HEL sent in chunks");
        return onHello(message);
    }
    if (header.type != "OPN" && header.size < kMinSymmetricSize)
        return abort(status::BadDecodingError, "message shorter than its security header");
    try {
        ChannelEvent event = channel_->onMessage(header, message, now);
        switch (event.kind) {
            case ChannelEvent::Kind::None:
                break;
            case ChannelEvent::Kind::Opened:
            case ChannelEvent::Kind::Renewed:
                sink_.send(std::move(event.reply));
                break;
            case ChannelEvent::Kind::Request:
                handler_.onRequest(*this, std::move(event.request));
                break;
            case ChannelEvent::Kind::Closed:
                close();
                break;
        }
    } catch (const ChannelFault& f) {
        abort(f.status, f.reason);
    }
}

void UaConnection::onHello(std::string_view message) {
    HelloMessage hello;
    try {
        BinaryDecoder decoder(message.substr(kTcpHeaderSize));
        decoder(hello);
        decoder.expectEnd();
    } catch (const DecodeError& e) {
        return abort(e.status(), std::string("HEL: ") + e.what());
    }
    if (hello.endpointUrl.size() > limits::kMaxEndpointUrlLength)
        return abort(status::BadTcpEndpointUrlInvalid, "endpoint URL too long");
    if (hello.receiveBufferSize < limits::kMinBufferSize || hello.sendBufferSize < limits::kMinBufferSize)
        return abort(status::BadTcpMessageTooLarge, "buffers smaller than 8192 bytes");
    receiveBufferSize_ = std::min(limits::kBufferSize, hello.sendBufferSize);
    SecureChannel::Negotiated negotiated;
    negotiated.sendBufferSize = std::min(limits::kBufferSize, hello.receiveBufferSize);
    negotiated.maxResponseSize = hello.maxMessageSize;
    negotiated.maxResponseChunks = hello.maxChunkCount;
    negotiated.maxRequestChunks = limits::chunkCountFor(receiveBufferSize_);
    channel_ = std::make_unique<SecureChannel>(channelId_, negotiated, security_);
    state_ = State::Open;
    const AcknowledgeMessage ack{0, receiveBufferSize_, negotiated.sendBufferSize, limits::kMaxMessageSize,
                                 negotiated.maxRequestChunks};
    sink_.send(frameMessage("ACK", 'F', encodeBody(ack)));
}

void UaConnection::sendResponse(std::uint32_t requestId, std::uint32_t requestHandle, std::uint32_t typeId,
                                const std::string& body) {
    if (state_ == State::Closed || !hasChannel()) return;
    std::string message = encodeBody(NodeId::numericId(typeId)) + body;
    auto chunks = channel_->chunkResponse(requestId, message);
    if (!chunks) {
        ServiceFault fault;
        fault.responseHeader.timestamp = DateTime::now();
        fault.responseHeader.requestHandle = requestHandle;
        fault.responseHeader.serviceResult = StatusCode{status::BadResponseTooLarge};
        chunks = channel_->chunkResponse(requestId,
                                         encodeBody(NodeId::numericId(id::ServiceFault)) + encodeBody(fault));
        // A peer whose limits leave no room even for that gets the reason by ERR.
        if (!chunks) return abort(status::BadResponseTooLarge, "the peer's message limit takes no response");
    }
    for (std::string& chunk : *chunks) sink_.send(std::move(chunk));
}

void UaConnection::onTimer(Clock::time_point now) {
    if (state_ == State::AwaitingHello && now >= helloDeadline_) {
        // A peer that never said HEL gets no ERR either: it may not speak UA at all.
        close();
        return;
    }
    if (state_ == State::Open && hasChannel() && now >= *channel_->expiry())
        abort(status::BadSecureChannelClosed, "the secure channel's lifetime ran out without renewal");
}

std::optional<Clock::time_point> UaConnection::nextDeadline() const {
    if (state_ == State::AwaitingHello) return helloDeadline_;
    if (state_ == State::Open && hasChannel()) return channel_->expiry();
    return std::nullopt;
}

void UaConnection::onDisconnected() {
    if (state_ == State::Closed) return;
    state_ = State::Closed;
    handler_.onChannelEnded(*this);
}

void UaConnection::abort(std::uint32_t status, const std::string& reason) {
    if (state_ == State::Closed) return;
    sink_.send(errorMessage(status, reason));
    close();
}

void UaConnection::close() {
    if (state_ == State::Closed) return;
    state_ = State::Closed;
    buffer_.clear();
    handler_.onChannelEnded(*this);
    sink_.closeConnection();
}

}  // namespace ferrow::ua
