#include "ferrow/ua/secure_channel.h"

#include <algorithm>

#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/common_messages.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {

// Channel id, token id, sequence number and request id in front of a symmetric chunk's body.
constexpr std::size_t kSymmetricOverhead = kTcpHeaderSize + 16;

struct SequenceHeader {
    std::uint32_t sequenceNumber = 0, requestId = 0;
};

template <class Io>
void fields(Io& io, SequenceHeader& v) {
    io(v.sequenceNumber), io(v.requestId);
}

[[noreturn]] void fault(std::uint32_t status, std::string reason) {
    throw ChannelFault{status, std::move(reason)};
}

// The body's encoding id: a numeric NodeId of namespace 0.
std::uint32_t readTypeId(BinaryDecoder& decoder) {
    NodeId typeId;
    decoder(typeId);
    if (typeId.ns != 0 || typeId.kind != NodeId::Kind::Numeric)
        fault(status::BadDecodingError, "a message body whose type is not a standard encoding");
    return typeId.numeric;
}

}  // namespace

std::optional<Clock::time_point> SecureChannel::expiry() const {
    if (!isOpen()) return std::nullopt;
    return tokenCreated_ + lifetime_ + lifetime_ / 4;
}

std::uint32_t SecureChannel::nextSequenceNumber() {
    // Sequence numbers wrap before the last 1024 values, as peers expect.
    if (sequenceNumber_ >= 0xFFFFFFFFu - 1024) sequenceNumber_ = 0;
    return ++sequenceNumber_;
}

void SecureChannel::checkSequence(std::uint32_t sequenceNumber) {
    if (anySequenceReceived_) {
        const bool next = sequenceNumber == lastReceivedSequence_ + 1;
        const bool wrapped = lastReceivedSequence_ > 0xFFFFFFFFu - 1024 && sequenceNumber < 1024;
        if (!next && !wrapped)
            fault(status::BadSequenceNumberInvalid, "sequence number " + std::to_string(sequenceNumber) +
                                                        " after " + std::to_string(lastReceivedSequence_));
    }
    anySequenceReceived_ = true;
    lastReceivedSequence_ = sequenceNumber;
}

ChannelEvent SecureChannel::onMessage(const TcpHeader& header, std::string_view message,
                                      Clock::time_point now) {
    try {
        if (header.type == "OPN") {
            if (header.chunkType != 'F') fault(status::BadTcpMessageTypeInvalid, "OPN sent in chunks");
            return onOpen(message, now);
        }
        if (header.type == "MSG" || header.type == "CLO") return onSymmetric(header, message, now);
    } catch (const DecodeError& e) {
        fault(e.status(), e.what());
    }
    fault(status::BadTcpMessageTypeInvalid, "unknown message type");
}

ChannelEvent SecureChannel::onOpen(std::string_view message, Clock::time_point now) {
    BinaryDecoder decoder(message.substr(kTcpHeaderSize));
    std::uint32_t channelId = 0;
    std::string policyUri;
    ByteString senderCertificate, receiverThumbprint;
    SequenceHeader sequence;
    decoder(channelId), decoder(policyUri), decoder(senderCertificate), decoder(receiverThumbprint);
    decoder(sequence);
    if (policyUri != kSecurityPolicyNone)
        fault(status::BadSecurityPolicyRejected, "only security policy None is offered");
    if (readTypeId(decoder) != id::OpenSecureChannelRequest)
        fault(status::BadTcpMessageTypeInvalid, "an OPN message that is not OpenSecureChannel");
    OpenSecureChannelRequest request;
    decoder(request);
    decoder.expectEnd();

    const bool renew = request.requestType == SecurityTokenRequestType::Renew;
    if (renew != isOpen())
        fault(status::BadTcpSecureChannelUnknown,
              renew ? "renewal of a channel never opened" : "a second channel on one connection");
    if (request.requestType != SecurityTokenRequestType::Issue && !renew)
        fault(status::BadDecodingError, "unknown token request type");
    if (renew && channelId != channelId_)
        fault(status::BadSecureChannelIdInvalid, "renewal of another channel");
    if (request.securityMode != MessageSecurityMode::None)
        fault(status::BadSecurityModeRejected, "only message security mode None is offered");
    checkSequence(sequence.sequenceNumber);

    lifetime_ = std::clamp(std::chrono::milliseconds(request.requestedLifetime), limits::kMinChannelLifetime,
                           limits::kMaxChannelLifetime);
    previousTokenId_ = tokenId_;
    tokenId_ = tokenId_ + 1;
    tokenCreated_ = now;

    OpenSecureChannelResponse response;
    response.responseHeader.timestamp = DateTime::now();
    response.responseHeader.requestHandle = request.requestHeader.requestHandle;
    response.securityToken = {channelId_, tokenId_, DateTime::now(),
                              static_cast<std::uint32_t>(lifetime_.count())};
    response.serverNonce = ByteString("");

    BinaryEncoder body;
    body(channelId_), body(std::string(kSecurityPolicyNone)), body(ByteString()), body(ByteString());
    body(SequenceHeader{nextSequenceNumber(), sequence.requestId});
    body(NodeId::numericId(id::OpenSecureChannelResponse)), body(response);
    ChannelEvent event;
    event.kind = renew ? ChannelEvent::Kind::Renewed : ChannelEvent::Kind::Opened;
    event.reply = frameMessage("OPN", 'F', body.bytes());
    return event;
}

ChannelEvent SecureChannel::onSymmetric(const TcpHeader& header, std::string_view message,
                                        Clock::time_point now) {
    (void)now;
    if (!isOpen()) fault(status::BadTcpSecureChannelUnknown, header.type + " before a channel was opened");
    BinaryDecoder decoder(message.substr(kTcpHeaderSize));
    std::uint32_t channelId = 0, tokenId = 0;
    SequenceHeader sequence;
    decoder(channelId), decoder(tokenId), decoder(sequence);
    if (channelId != channelId_) fault(status::BadTcpSecureChannelUnknown, "a message for another channel");
    if (tokenId == tokenId_) {
        previousTokenId_ = 0;  // the peer uses the new token: the old one is done
    } else if (tokenId == 0 || tokenId != previousTokenId_) {
        fault(status::BadSecureChannelTokenUnknown, "unknown security token " + std::to_string(tokenId));
    }
    checkSequence(sequence.sequenceNumber);
    const std::string_view payload = message.substr(kSymmetricOverhead);

    if (header.type == "CLO") {
        ChannelEvent event;
        event.kind = ChannelEvent::Kind::Closed;
        return event;
    }
    if (header.chunkType == 'A') {
        assembling_.reset();
        return {};
    }
    if (header.chunkType != 'C' && header.chunkType != 'F')
        fault(status::BadTcpMessageTypeInvalid, "unknown chunk type");
    if (assembling_ && assembling_->requestId != sequence.requestId)
        fault(status::BadDecodingError, "chunks of two requests interleaved");
    if (!assembling_) {
        assembling_.emplace();
        assembling_->requestId = sequence.requestId;
        assembledSize_ = assembledChunks_ = 0;
    }
    assembledSize_ += payload.size();
    ++assembledChunks_;
    if (assembledSize_ > limits::kMaxMessageSize || assembledChunks_ > negotiated_.maxRequestChunks)
        assembling_->tooLarge = true;  // the first chunk stays for the request header; the rest is dropped
    if (!assembling_->tooLarge) assembling_->body.append(payload);
    if (header.chunkType == 'C') return {};

    ChannelEvent event;
    event.kind = ChannelEvent::Kind::Request;
    event.request = std::move(*assembling_);
    assembling_.reset();
    BinaryDecoder bodyDecoder(event.request.body);
    event.request.typeId = readTypeId(bodyDecoder);
    event.request.body.erase(0, bodyDecoder.position());
    return event;
}

std::optional<std::vector<std::string>> SecureChannel::chunkResponse(std::uint32_t requestId,
                                                                     std::string_view body) {
    const std::size_t perChunk = negotiated_.sendBufferSize - kSymmetricOverhead;
    const std::size_t chunks = std::max<std::size_t>(1, (body.size() + perChunk - 1) / perChunk);
    if (body.size() > limits::kMaxMessageSize ||
        (negotiated_.maxResponseSize != 0 && body.size() > negotiated_.maxResponseSize) ||
        (negotiated_.maxResponseChunks != 0 && chunks > negotiated_.maxResponseChunks))
        return std::nullopt;
    std::vector<std::string> out;
    out.reserve(chunks);
    for (std::size_t i = 0; i < chunks; ++i) {
        BinaryEncoder chunk;
        chunk(channelId_), chunk(tokenId_), chunk(SequenceHeader{nextSequenceNumber(), requestId});
        std::string bytes = chunk.take();
        bytes.append(body.substr(i * perChunk, perChunk));
        out.push_back(frameMessage("MSG", i + 1 == chunks ? 'F' : 'C', bytes));
    }
    return out;
}

}  // namespace ferrow::ua
