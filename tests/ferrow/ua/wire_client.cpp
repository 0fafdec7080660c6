#include "tests/ferrow/ua/wire_client.h"

#include <cstring>

#include "ferrow/ua/tcp_messages.h"

namespace ferrow::ua::test {

std::string WireClient::hello(std::uint32_t receiveBuffer, std::uint32_t sendBuffer, std::uint32_t maxMessage,
                              std::uint32_t maxChunks, const std::string& url) {
    return frameMessage("HEL", 'F',
                        encodeBody(HelloMessage{0, receiveBuffer, sendBuffer, maxMessage, maxChunks, url}));
}

std::string WireClient::open(bool renew, std::uint32_t lifetimeMs, const std::string& policy) {
    OpenSecureChannelRequest request;
    request.requestHeader.requestHandle = ++requestHandle;
    request.requestType = renew ? SecurityTokenRequestType::Renew : SecurityTokenRequestType::Issue;
    request.securityMode = MessageSecurityMode::None;
    request.requestedLifetime = lifetimeMs;
    BinaryEncoder body;
    body(renew ? channelId : 0u), body(policy), body(ByteString()), body(ByteString());
    body(++sequenceNumber), body(++requestId);
    body(NodeId::numericId(id::OpenSecureChannelRequest)), body(request);
    return frameMessage("OPN", 'F', body.bytes());
}

std::string WireClient::message(std::uint32_t typeId, const std::string& encodedRequest,
                                std::size_t chunkBody, const char* type) {
    const std::string whole = encodeBody(NodeId::numericId(typeId)) + encodedRequest;
    if (chunkBody == 0) chunkBody = 65535 - 24;  // what the endpoint's receive buffer takes
    const std::uint32_t id = ++requestId;
    std::string out;
    for (std::size_t at = 0; at == 0 || at < whole.size(); at += chunkBody) {
        BinaryEncoder header;
        header(channelId), header(tokenId), header(++sequenceNumber), header(id);
        const bool last = at + chunkBody >= whole.size();
        out += frameMessage(type, last ? 'F' : 'C', header.bytes() + whole.substr(at, chunkBody));
    }
    return out;
}

std::string WireClient::close() {
    CloseSecureChannelRequest request;
    return message(id::CloseSecureChannelRequest, encodeBody(request), 0, "CLO");
}

std::vector<WireClient::Reply> WireClient::read(std::string& stream) {
    std::vector<Reply> replies;
    while (const auto header = peekTcpHeader(stream)) {
        if (stream.size() < header->size) break;
        const std::string message = stream.substr(8, header->size - 8);
        stream.erase(0, header->size);
        BinaryDecoder decoder(message);
        Reply reply;
        reply.type = header->type;
        if (header->type == "ERR") {
            ErrorMessage error;
            decoder(error);
            reply.error = error.error;
            reply.body = error.reason;
        } else if (header->type == "OPN") {
            std::string policy;
            ByteString certificate, thumbprint;
            std::uint32_t sequence = 0;
            NodeId typeId;
            decoder(channelId), decoder(policy), decoder(certificate), decoder(thumbprint), decoder(sequence);
            decoder(reply.requestId), decoder(typeId);
            reply.typeId = typeId.numeric;
            reply.body = message.substr(decoder.position());
            BinaryDecoder responseDecoder(reply.body);
            OpenSecureChannelResponse response;
            responseDecoder(response);
            tokenId = response.securityToken.tokenId;
        } else if (header->type == "MSG") {
            std::uint32_t channel = 0, token = 0, sequence = 0;
            decoder(channel), decoder(token), decoder(sequence), decoder(reply.requestId);
            pendingBody_ += message.substr(decoder.position());
            ++pendingChunks_;
            if (header->chunkType == 'C') continue;
            BinaryDecoder bodyDecoder(pendingBody_);
            NodeId typeId;
            bodyDecoder(typeId);
            reply.typeId = typeId.numeric;
            reply.body = pendingBody_.substr(bodyDecoder.position());
            reply.chunks = pendingChunks_;
            pendingBody_.clear();
            pendingChunks_ = 0;
        } else {
            reply.body = message;
        }
        replies.push_back(std::move(reply));
    }
    return replies;
}

}  // namespace ferrow::ua::test
