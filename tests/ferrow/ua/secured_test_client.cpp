#include "secured_test_client.h"

#include "ferrow/ua/asymmetric_crypto.h"
#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/message_security.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/random_bytes.h"
#include "ferrow/ua/secure_channel.h"
#include "ferrow/ua/tcp_messages.h"

namespace ferrow::ua::test {

SecuredTestClient::SecuredTestClient(const SecurityPolicy& policy, MessageSecurityMode mode,
                                     const TestIdentity& identity, std::string serverCertificateDer)
    : policy_(policy),
      mode_(mode),
      identity_(identity),
      serverCertificate_(std::move(serverCertificateDer)) {}

std::string SecuredTestClient::openRequest(SecurityTokenRequestType type, std::size_t nonceLength) {
    clientNonce_ = randomBytes(nonceLength);
    OpenSecureChannelRequest request;
    request.requestType = type;
    request.securityMode = mode_;
    request.clientNonce = ByteString(clientNonce_);
    request.requestedLifetime = 600000;
    BinaryEncoder header;
    header(channelId), header(std::string(policy_.uri)), header(ByteString(identity_.certificateDer)),
        header(ByteString(certificateThumbprint(serverCertificate_)));
    BinaryEncoder payload;
    payload(++sequenceNumber), payload(++requestId);
    payload(NodeId::numericId(id::OpenSecureChannelRequest)), payload(request);
    const EvpPkeyPtr serverKey = publicKeyOfCertificate(serverCertificate_);
    return protectAsymmetricChunk(identity_.privateKey.get(), serverKey.get(), header.bytes(),
                                  payload.bytes());
}

bool SecuredTestClient::acceptOpenResponse(std::string_view reply) {
    try {
        BinaryDecoder header(reply.substr(kTcpHeaderSize));
        std::uint32_t replyChannel = 0;
        std::string policyUri;
        ByteString senderCertificate, thumbprint;
        header(replyChannel), header(policyUri), header(senderCertificate), header(thumbprint);
        if (policyUri != policy_.uri || senderCertificate.bytes != serverCertificate_ ||
            thumbprint.bytes != certificateThumbprint(identity_.certificateDer))
            return false;
        const EvpPkeyPtr serverKey = publicKeyOfCertificate(serverCertificate_);
        const std::string plain = unprotectAsymmetricChunk(identity_.privateKey.get(), serverKey.get(), reply,
                                                           kTcpHeaderSize + header.position());
        BinaryDecoder decoder(plain);
        std::uint32_t sequence = 0, answeredRequest = 0;
        NodeId typeId;
        OpenSecureChannelResponse response;
        decoder(sequence), decoder(answeredRequest), decoder(typeId), decoder(response);
        if (typeId.numeric != id::OpenSecureChannelResponse || response.serverNonce.bytes.size() != 32)
            return false;
        previousKeys_ = keys_;
        previousTokenId_ = tokenId;
        keys_ = deriveChannelKeys(policy_, clientNonce_, response.serverNonce.bytes);
        channelId = response.securityToken.channelId;
        tokenId = response.securityToken.tokenId;
        return true;
    } catch (const ChannelFault&) {
        return false;
    } catch (const DecodeError&) {
        return false;
    }
}

std::string SecuredTestClient::message(std::string_view body, bool oldToken) {
    BinaryEncoder header;
    header(channelId), header(oldToken ? previousTokenId_ : tokenId);
    BinaryEncoder payload;
    payload(++sequenceNumber), payload(++requestId);
    std::string bytes = payload.take();
    bytes.append(body);
    return protectSymmetricChunk(policy_, mode_, oldToken ? previousKeys_.client : keys_.client, "MSG", 'F',
                                 header.bytes(), bytes);
}

std::string SecuredTestClient::readMessage(std::string_view chunk) {
    BinaryDecoder ids(chunk.substr(kTcpHeaderSize));
    std::uint32_t replyChannel = 0, replyToken = 0;
    ids(replyChannel), ids(replyToken);
    const ChannelKeys& keys = replyToken == tokenId ? keys_.server : previousKeys_.server;
    return unprotectSymmetricChunk(policy_, mode_, keys, chunk).substr(8);
}

}  // namespace ferrow::ua::test
