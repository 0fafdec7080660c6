#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ferrow/ua/common_messages.h"
#include "ferrow/ua/key_derivation.h"
#include "ferrow/ua/security_policy.h"
#include "openssl_tool.h"

namespace ferrow::ua::test {

// The client side of a secured channel, built from the same primitives but kept apart from the server's
// channel code: writes OPN/MSG chunks and reads the server's. One test thread.
class SecuredTestClient {
  public:
    SecuredTestClient(const SecurityPolicy& policy, MessageSecurityMode mode, const TestIdentity& identity,
                      std::string serverCertificateDer);

    // An OPN request (Issue or Renew) with a fresh client nonce of `nonceLength` bytes.
    std::string openRequest(SecurityTokenRequestType type, std::size_t nonceLength = 32);
    // Decrypts and checks the server's OPN answer, derives the keys and takes the new token; false when
    // the answer does not verify.
    bool acceptOpenResponse(std::string_view reply);
    // A one-chunk MSG carrying `body` under the current token (or the previous one when `oldToken`).
    std::string message(std::string_view body, bool oldToken = false);
    // The body of a MSG chunk from the server, checked with the keys of the token it names.
    std::string readMessage(std::string_view chunk);
    // The keys this client signs and encrypts with under the current token.
    const ChannelKeys& sendingKeys() const { return keys_.client; }

    std::uint32_t channelId = 0;
    std::uint32_t tokenId = 0;
    std::uint32_t sequenceNumber = 0;
    std::uint32_t requestId = 0;

  private:
    const SecurityPolicy& policy_;
    MessageSecurityMode mode_;
    const TestIdentity& identity_;
    std::string serverCertificate_;
    std::string clientNonce_;
    ChannelKeySet keys_, previousKeys_;
    std::uint32_t previousTokenId_ = 0;
};

}  // namespace ferrow::ua::test
