#include "ferrow/ua/secure_channel.h"

#include <algorithm>

#include "ferrow/ua/asymmetric_crypto.h"
#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/common_messages.h"
#include "ferrow/ua/message_security.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/random_bytes.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {

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

SecureChannel::SecureChannel(std::uint32_t channelId, Negotiated negotiated,
                             std::shared_ptr<const ChannelSecurityConfig> security)
    : channelId_(channelId), negotiated_(negotiated), security_(std::move(security)) {
    if (!security_) security_ = std::make_shared<ChannelSecurityConfig>();
}

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

std::string SecureChannel::openSecured(std::string_view message, std::size_t headerEnd,
                                       const SecurityPolicy& policy, const std::string& senderCertificate,
                                       const std::string& receiverThumbprint) {
    const ChannelSecurityConfig& config = *security_;
    if (!config.privateKey || receiverThumbprint != certificateThumbprint(config.certificateDer))
        fault(status::BadSecurityChecksFailed, "an opening message for a certificate that is not ours");
    if (isOpen() && senderCertificate != peerCertificate_)
        fault(status::BadSecurityChecksFailed, "renewal with another client certificate");
    EvpPkeyPtr senderKey = publicKeyOfCertificate(senderCertificate);
    const std::size_t keyBits = rsaKeyBytes(senderKey.get()) * 8;
    if (!senderKey || keyBits < policy.minAsymmetricKeyBits || keyBits > policy.maxAsymmetricKeyBits)
        fault(status::BadSecurityChecksFailed, "a client certificate without a usable RSA key");
    std::string payload =
        unprotectAsymmetricChunk(config.privateKey.get(), senderKey.get(), message, headerEnd);
    // Only a certificate whose holder signed this message is worth asking the trust list about.
    if (!isOpen() && config.validateCertificate) {
        if (const std::uint32_t refusal = config.validateCertificate(senderCertificate); refusal != 0)
            fault(refusal, "the client certificate was refused");
    }
    peerCertificate_ = senderCertificate;
    peerKey_ = std::move(senderKey);
    return payload;
}

ChannelEvent SecureChannel::onOpen(std::string_view message, Clock::time_point now) {
    BinaryDecoder header(message.substr(kTcpHeaderSize));
    std::uint32_t channelId = 0;
    std::string policyUri;
    ByteString senderCertificate, receiverThumbprint;
    header(channelId), header(policyUri), header(senderCertificate), header(receiverThumbprint);
    const SecurityPolicy* policy = findSecurityPolicy(policyUri);
    if (!policy || !security_->offersPolicy(policyUri))
        fault(status::BadSecurityPolicyRejected, "security policy not offered: " + policyUri);
    if (isOpen() && policy != policy_)
        fault(status::BadSecurityPolicyRejected, "renewal under another policy");

    std::string securedPayload;
    if (policy->secured)
        securedPayload = openSecured(message, kTcpHeaderSize + header.position(), *policy,
                                     senderCertificate.bytes, receiverThumbprint.bytes);
    BinaryDecoder decoder(policy->secured ? std::string_view(securedPayload)
                                          : message.substr(kTcpHeaderSize + header.position()));
    SequenceHeader sequence;
    decoder(sequence);
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
    if (!security_->offers(policyUri, request.securityMode) || (renew && request.securityMode != mode_) ||
        (policy->secured == (request.securityMode == MessageSecurityMode::None)))
        fault(status::BadSecurityModeRejected, "message security mode not offered with " + policyUri);
    if (policy->secured && request.clientNonce.bytes.size() != policy->nonceLength)
        fault(status::BadNonceInvalid, "a client nonce of the wrong length");
    checkSequence(sequence.sequenceNumber);

    lifetime_ = std::clamp(std::chrono::milliseconds(request.requestedLifetime), limits::kMinChannelLifetime,
                           limits::kMaxChannelLifetime);
    previousTokenId_ = tokenId_;
    tokenId_ = tokenId_ + 1;
    tokenCreated_ = now;
    policy_ = policy;
    mode_ = request.securityMode;

    OpenSecureChannelResponse response;
    response.responseHeader.timestamp = DateTime::now();
    response.responseHeader.requestHandle = request.requestHeader.requestHandle;
    response.securityToken = {channelId_, tokenId_, DateTime::now(),
                              static_cast<std::uint32_t>(lifetime_.count())};
    response.serverNonce = ByteString("");
    if (policy->secured) {
        response.serverNonce = ByteString(randomBytes(policy->nonceLength));
        // The old keys stay valid until the client sends with the new token.
        previousKeys_ = std::move(keys_);
        keys_ = deriveChannelKeys(*policy, request.clientNonce.bytes, response.serverNonce.bytes);
    }

    BinaryEncoder securityHeader;
    BinaryEncoder payload;
    payload(SequenceHeader{nextSequenceNumber(), sequence.requestId});
    payload(NodeId::numericId(id::OpenSecureChannelResponse)), payload(response);
    ChannelEvent event;
    event.kind = renew ? ChannelEvent::Kind::Renewed : ChannelEvent::Kind::Opened;
    if (!policy->secured) {
        securityHeader(channelId_), securityHeader(std::string(kSecurityPolicyNone)),
            securityHeader(ByteString()), securityHeader(ByteString());
        event.reply = frameMessage("OPN", 'F', securityHeader.bytes() + payload.bytes());
        return event;
    }
    securityHeader(channelId_), securityHeader(std::string(policy->uri)),
        securityHeader(ByteString(security_->certificateDer)),
        securityHeader(ByteString(certificateThumbprint(peerCertificate_)));
    event.reply = protectAsymmetricChunk(security_->privateKey.get(), peerKey_.get(), securityHeader.bytes(),
                                         payload.bytes());
    return event;
}

ChannelEvent SecureChannel::onSymmetric(const TcpHeader& header, std::string_view message,
                                        Clock::time_point now) {
    (void)now;
    if (!isOpen()) fault(status::BadTcpSecureChannelUnknown, header.type + " before a channel was opened");
    BinaryDecoder ids(message.substr(kTcpHeaderSize));
    std::uint32_t channelId = 0, tokenId = 0;
    ids(channelId), ids(tokenId);
    if (channelId != channelId_) fault(status::BadTcpSecureChannelUnknown, "a message for another channel");
    const bool currentToken = tokenId == tokenId_;
    if (!currentToken && (tokenId == 0 || tokenId != previousTokenId_))
        fault(status::BadSecureChannelTokenUnknown, "unknown security token " + std::to_string(tokenId));
    // Checked before the token bookkeeping, so a forged chunk cannot retire the old keys.
    const std::string plain =
        secured() ? unprotectSymmetricChunk(*policy_, mode_,
                                            currentToken ? keys_.client : previousKeys_.client, message)
                  : std::string(message.substr(kTcpHeaderSize + 8));
    if (currentToken && previousTokenId_ != 0) {
        previousTokenId_ = 0;  // the peer uses the new token: the old one is done
        previousKeys_ = {};
    }
    BinaryDecoder decoder(plain);
    SequenceHeader sequence;
    decoder(sequence);
    checkSequence(sequence.sequenceNumber);
    const std::string_view payload = std::string_view(plain).substr(decoder.position());

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
    const std::size_t perChunk = maxSymmetricBodySize(*policy_, mode_, negotiated_.sendBufferSize);
    if (perChunk == 0) return std::nullopt;
    // Until the client sends with a renewed token, it may not have the new keys yet.
    const bool previous = secured() && previousTokenId_ != 0;
    const std::uint32_t sendToken = previous ? previousTokenId_ : tokenId_;
    const ChannelKeys& sendKeys = previous ? previousKeys_.server : keys_.server;
    const std::size_t chunks = std::max<std::size_t>(1, (body.size() + perChunk - 1) / perChunk);
    if (body.size() > limits::kMaxMessageSize ||
        (negotiated_.maxResponseSize != 0 && body.size() > negotiated_.maxResponseSize) ||
        (negotiated_.maxResponseChunks != 0 && chunks > negotiated_.maxResponseChunks))
        return std::nullopt;
    std::vector<std::string> out;
    out.reserve(chunks);
    for (std::size_t i = 0; i < chunks; ++i) {
        BinaryEncoder securityHeader;
        securityHeader(channelId_), securityHeader(sendToken);
        BinaryEncoder payload;
        payload(SequenceHeader{nextSequenceNumber(), requestId});
        std::string bytes = payload.take();
        bytes.append(body.substr(i * perChunk, perChunk));
        const char chunkType = i + 1 == chunks ? 'F' : 'C';
        out.push_back(secured() ? protectSymmetricChunk(*policy_, mode_, sendKeys, "MSG", chunkType,
                                                        securityHeader.bytes(), bytes)
                                : frameMessage("MSG", chunkType, securityHeader.bytes() + bytes));
    }
    return out;
}

}  // namespace ferrow::ua
