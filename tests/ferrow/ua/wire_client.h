#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/common_messages.h"
#include "ferrow/ua/node_ids.h"

namespace ferrow::ua::test {

// The client side of UA TCP for tests: builds HEL, OPN, MSG and CLO messages and reads what the
// endpoint sends back, assembling chunks. Written from the wire layout, not from the endpoint's code
// paths, so that the two check each other.
class WireClient {
  public:
    struct Reply {
        std::string type;  // "ACK", "ERR", "OPN", "MSG"
        std::uint32_t requestId = 0;
        std::uint32_t typeId = 0;
        std::string body;  // after the type id
        std::uint32_t error = 0;
        std::size_t chunks = 0;
    };

    std::string hello(std::uint32_t receiveBuffer = 65535, std::uint32_t sendBuffer = 65535,
                      std::uint32_t maxMessage = 0, std::uint32_t maxChunks = 0,
                      const std::string& url = "opc.tcp://localhost:4840/");
    std::string open(bool renew = false, std::uint32_t lifetimeMs = 60000,
                     const std::string& policy = kSecurityPolicyNone);
    // A service request in chunks of at most `chunkBody` body bytes (0: as many as fill 64 KiB chunks).
    std::string message(std::uint32_t typeId, const std::string& encodedRequest, std::size_t chunkBody = 0,
                        const char* type = "MSG");
    template <class Request>
    std::string request(std::uint32_t typeId, Request request, std::size_t chunkBody = 0) {
        request.requestHeader.authenticationToken = authenticationToken;
        request.requestHeader.requestHandle = ++requestHandle;
        return message(typeId, encodeBody(request), chunkBody);
    }
    std::string close();

    // Takes the whole messages off the front of `stream`; replies of MSG chunks come when their final chunk
    // has arrived. Learns the channel and token from OPN replies.
    std::vector<Reply> read(std::string& stream);

    template <class Response>
    static Response decode(const Reply& reply) {
        BinaryDecoder decoder(reply.body);
        Response response;
        decoder(response);
        decoder.expectEnd();
        return response;
    }

    std::uint32_t channelId = 0, tokenId = 0, sequenceNumber = 0, requestId = 0, requestHandle = 0;
    NodeId authenticationToken;

  private:
    std::string pendingBody_;
    std::size_t pendingChunks_ = 0;
};

}  // namespace ferrow::ua::test
