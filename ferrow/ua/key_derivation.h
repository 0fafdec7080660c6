#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ferrow::ua {

struct SecurityPolicy;

// P_SHA256(secret, seed): HMAC-SHA256 expanded to `length` bytes, as both channel ends derive keys.
std::string pSha256(std::string_view secret, std::string_view seed, std::size_t length);

// One direction's symmetric keys: the sender signs and encrypts with them, the receiver checks with them.
struct ChannelKeys {
    std::string signingKey;
    std::string encryptingKey;
    std::string initializationVector;
};

// Keys the client sends with: P(serverNonce, clientNonce); keys the server sends with:
// P(clientNonce, serverNonce). Each output is cut into signing key, encrypting key and IV in that order.
struct ChannelKeySet {
    ChannelKeys client;
    ChannelKeys server;
};

ChannelKeySet deriveChannelKeys(const SecurityPolicy& policy, std::string_view clientNonce,
                                std::string_view serverNonce);

}  // namespace ferrow::ua
